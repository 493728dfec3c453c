#include "BrowseFixtures.h"
#include "TestFiles.h"
#include "browse/FolderTreeView.h"
#include "browse/HistoryListView.h"
#include "browse/SidebarView.h"
#include "state/AppState.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using TestFiles::touch;

class TestSidebar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void withoutAFolderOnlyTheEmptyHistoryShows();
    void historyMenusClearAllOrRemoveOne();
    void rowsCountDirectImagesAndOneIsHighlighted();
    void clickRefreshesTheFolderAndTheArrowOnlyExpands();
    void historyClick_data();
    void historyClick();
    void historyFollowsTheTreeInOneList();

private:
    QString path(const QString &relative) const { return m_dir.path() + '/' + relative; }
    void open(const QString &folder);
    void clickHistoryRow(int row);
    QModelIndex rowOf(const QString &folderPath) const;
    QStringList highlightedPaths() const;
    QStringList imageNames() const { return BrowseFixtures::filenames(m_state->images()); }

    WorkQueues m_queues;
    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SidebarView> m_sidebar;
};

void TestSidebar::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
    m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
    m_sidebar = std::make_unique<SidebarView>(*m_state);
    m_sidebar->resize(240, 700);
    new QAbstractItemModelTester(m_sidebar->folderTreeView()->model(), m_sidebar.get());
}

void TestSidebar::cleanup()
{
    m_sidebar.reset();
    m_state.reset();
}

void TestSidebar::open(const QString &folder)
{
    QVERIFY(BrowseFixtures::open(*m_state, folder));
}

void TestSidebar::clickHistoryRow(int row)
{
    QListView *list = m_sidebar->historyListView()->listView();
    m_sidebar->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_sidebar.get()));
    const QRect rect = list->visualRect(list->model()->index(row, 0));
    QVERIFY(rect.isValid());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

QModelIndex TestSidebar::rowOf(const QString &folderPath) const
{
    const QAbstractItemModel *model = m_sidebar->folderTreeView()->model();
    const QModelIndexList found =
        model->match(model->index(0, 0), FolderTreeView::PathRole, folderPath, 1,
                     Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? QModelIndex() : found.first();
}

QStringList TestSidebar::highlightedPaths() const
{
    const QAbstractItemModel *model = m_sidebar->folderTreeView()->model();
    QStringList paths;
    const QModelIndexList found = model->match(model->index(0, 0), FolderTreeView::HighlightedRole,
                                               true, -1, Qt::MatchExactly | Qt::MatchRecursive);
    for (const QModelIndex &index : found)
        paths << index.data(FolderTreeView::PathRole).toString();
    return paths;
}

void TestSidebar::withoutAFolderOnlyTheEmptyHistoryShows()
{
    QStringList texts;
    for (QLabel *label : m_sidebar->findChildren<QLabel *>()) {
        texts << label->text();
        if (label->text() == QStringLiteral("最近打开"))
            QCOMPARE(label->font().capitalization(), QFont::MixedCase);
    }
    for (const char *title : {"Kelvane", "当前文件夹", "最近打开"})
        QVERIFY(texts.contains(QString::fromUtf8(title)));
    HistoryListView *history = m_sidebar->historyListView();
    QCOMPARE(history->emptyLabel()->text(), QStringLiteral("暂无历史记录"));
    QVERIFY(history->emptyLabel()->isVisibleTo(history));
    QVERIFY(!history->listView()->isVisibleTo(history));
    QVERIFY(m_sidebar->historyMenuButton()->isHidden());
    QVERIFY(m_sidebar->folderSection()->isHidden());
    QCOMPARE(m_sidebar->folderTreeView()->model()->rowCount(), 0);

    touch(m_dir.path(), "p/a.jpg");
    open(path("p"));
    QVERIFY(!m_sidebar->folderSection()->isHidden());
    QCOMPARE(m_sidebar->folderTreeView()->model()->rowCount(), 1);
}

void TestSidebar::historyMenusClearAllOrRemoveOne()
{
    for (const char *name : {"one", "two", "three"})
        m_state->folderHistory().add(QUrl::fromLocalFile(path(name)));
    HistoryListView *history = m_sidebar->historyListView();
    QVERIFY(history->listView()->isVisibleTo(history));
    QCOMPARE(history->listView()->model()->index(0, 0).data().toString(), QStringLiteral("three"));
    std::unique_ptr<QMenu> menu = history->createContextMenu(1);
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("移除"));
    menu->actions().first()->trigger();
    QCOMPARE(history->listView()->model()->rowCount(), 2);
    QCOMPARE(m_state->folderHistory().folders().last().name, QStringLiteral("one"));
    QVERIFY(!history->createContextMenu(5));

    QToolButton *button = m_sidebar->historyMenuButton();
    QVERIFY(!button->isHidden());
    const QList<QAction *> actions = button->menu()->actions();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions.first()->text(), QStringLiteral("清除全部历史"));
    actions.first()->trigger();
    QVERIFY(m_state->folderHistory().folders().isEmpty());
    QVERIFY(button->isHidden());
    QVERIFY(history->emptyLabel()->isVisibleTo(history));
}

void TestSidebar::rowsCountDirectImagesAndOneIsHighlighted()
{
    for (int i = 1; i <= 3; ++i)
        touch(m_dir.path(), QStringLiteral("root/own_%1.jpg").arg(i));
    for (int i = 1; i <= 10; ++i)
        touch(m_dir.path(), QStringLiteral("root/sub/s_%1.png").arg(i));
    touch(m_dir.path(), "root/other/c.jpg");
    QVERIFY(highlightedPaths().isEmpty());
    open(path("root"));

    const QModelIndex root = rowOf(path("root"));
    const QModelIndex sub = rowOf(path("root/sub"));
    QVERIFY(root.isValid() && sub.isValid());
    QCOMPARE(sub.parent(), root);
    QCOMPARE(root.data().toString(), QStringLiteral("root"));
    QCOMPARE(root.data(FolderTreeView::DirectImageCountRole).toInt(), 3);
    QCOMPARE(sub.data(FolderTreeView::DirectImageCountRole).toInt(), 10);
    QVERIFY(!m_sidebar->folderTreeView()->isExpanded(root)); // groups start collapsed

    QCOMPARE(highlightedPaths(), QStringList({path("root")}));
    m_state->setSelectedFolderURL(QUrl::fromLocalFile(path("root/sub")));
    QCOMPARE(highlightedPaths(), QStringList({path("root/sub")}));
    m_state->setSelectedFolderURL(std::nullopt);
    QVERIFY(highlightedPaths().isEmpty());
}

void TestSidebar::clickRefreshesTheFolderAndTheArrowOnlyExpands()
{
    touch(m_dir.path(), "root/a.jpg");
    touch(m_dir.path(), "root/sub/b.jpg");
    touch(m_dir.path(), "root/sub/c.jpg");
    FolderTreeView *tree = m_sidebar->folderTreeView();
    QSignalSpy resets(tree->model(), &QAbstractItemModel::modelReset);
    open(path("root"));
    QCOMPARE(resets.count(), 1); // an open builds the rows once
    m_sidebar->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_sidebar.get()));
    QSignalSpy refreshing(m_state.get(), &AppState::statusMessageChanged);
    // The disclosure arrow sits in the indentation left of the row's own rectangle.
    const QRect rootRect = tree->visualRect(rowOf(path("root")));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      QPoint(rootRect.left() - tree->indentation() / 2, rootRect.center().y()));
    QVERIFY(tree->isExpanded(rowOf(path("root"))));
    QVERIFY(refreshing.isEmpty());

    const QRect subRect = tree->visualRect(rowOf(path("root/sub")));
    QVERIFY(subRect.isValid());
    QTRY_VERIFY(tree->viewport()->rect().contains(subRect.center())); // the tree grew
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, subRect.center());
    QVERIFY(!refreshing.isEmpty());
    QCOMPARE(refreshing.first().first().toString(), QStringLiteral("正在刷新..."));
    QTRY_VERIFY(!m_state->isLoading());
    QCOMPARE(m_state->selectedFolderURL(), QUrl::fromLocalFile(path("root/sub")));
    QCOMPARE(imageNames(), QStringList({"b.jpg", "c.jpg"}));
    QCOMPARE(highlightedPaths(), QStringList({path("root/sub")}));
    QVERIFY(tree->isExpanded(rowOf(path("root"))));

    // Emptied on disk and refreshed again and again, the row still acts.
    QVERIFY(QFile::remove(path("root/sub/b.jpg")) && QFile::remove(path("root/sub/c.jpg")));
    for (int round = 0; round < 2; ++round) {
        const QModelIndex sub = rowOf(path("root/sub"));
        QVERIFY(m_state->currentFolder()->find(sub.data(FolderTreeView::NodeIdRole).toUuid()));
        tree->expand(rowOf(path("root")));
        const QRect rect = tree->visualRect(sub);
        QTRY_VERIFY(tree->viewport()->rect().contains(rect.center()));
        QSignalSpy again(m_state.get(), &AppState::loadingChanged);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
        QVERIFY(!again.isEmpty());
        QTRY_VERIFY(!m_state->isLoading());
    }
    QVERIFY(imageNames().isEmpty());
}

void TestSidebar::historyClick_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("images");
    QTest::newRow("a folder reopens with its sub-folders")
        << "trip"
        << "共 2 张图片" << QStringList{"a.jpg", "b.jpg"};
    QTest::newRow("a deleted folder is only reported")
        << "vanished"
        << "文件夹不存在: vanished" << QStringList{"kept.jpg"};
    QTest::newRow("a file is reported") << "not-a-folder.jpg"
                                        << "无法读取文件夹「not-a-folder.jpg」" << QStringList();
}

void TestSidebar::historyClick()
{
    QFETCH(QString, entry);
    QFETCH(QString, message);
    QFETCH(QStringList, images);
    touch(m_dir.path(), "trip/a.jpg");
    touch(m_dir.path(), "trip/day2/b.jpg");
    touch(m_dir.path(), "not-a-folder.jpg");
    if (entry == "vanished") {
        touch(m_dir.path(), "kept/kept.jpg");
        open(path("kept"));
    }
    m_state->folderHistory().add(QUrl::fromLocalFile(path(entry)));
    const int entries = m_state->folderHistory().folders().size();
    QVERIFY(QDir(path("vanished")).removeRecursively());
    QSignalSpy status(m_state.get(), &AppState::statusMessageChanged);
    clickHistoryRow(0);
    QTRY_VERIFY(!m_state->isLoading());
    QVERIFY(!status.isEmpty());
    if (entry == "trip")
        QCOMPARE(status.first().first().toString(), QStringLiteral("正在扫描文件夹..."));
    QCOMPARE(m_state->statusMessage(), message);
    QCOMPARE(imageNames(), images);
    QCOMPARE(m_state->folderHistory().folders().size(), entries);
    QCOMPARE(m_state->folderHistory().folders().first().path, path(entry));
}

void TestSidebar::historyFollowsTheTreeInOneList()
{
    touch(m_dir.path(), "root/a.jpg");
    touch(m_dir.path(), "root/sub/b.jpg");
    m_sidebar->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_sidebar.get()));
    open(path("root"));
    FolderTreeView *tree = m_sidebar->folderTreeView();
    QWidget *history = m_sidebar->historySection();
    const auto gapBelowTree = [&] {
        const int treeBottom = tree->mapTo(m_sidebar.get(), QPoint(0, tree->height())).y();
        return history->mapTo(m_sidebar.get(), QPoint()).y() - treeBottom;
    };
    QTRY_VERIFY(gapBelowTree() >= 0 && gapBelowTree() < 24);
    const int historyTop = history->mapTo(m_sidebar.get(), QPoint()).y();
    tree->expand(rowOf(path("root")));
    QTRY_VERIFY(history->mapTo(m_sidebar.get(), QPoint()).y() > historyTop);
    QVERIFY(gapBelowTree() >= 0 && gapBelowTree() < 24);
    // Long names elide inside the column; the list never grows wider than it.
    QVERIFY(tree->width() <= m_sidebar->width());
    QVERIFY(history->width() <= m_sidebar->width());
    // Neither part scrolls on its own.
    QCOMPARE(tree->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(m_sidebar->historyListView()->listView()->verticalScrollBarPolicy(),
             Qt::ScrollBarAlwaysOff);
}

QTEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
