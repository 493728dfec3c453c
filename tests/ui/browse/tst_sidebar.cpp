#include "TestFiles.h"
#include "browse/FolderTreeView.h"
#include "browse/HistoryListView.h"
#include "browse/SidebarView.h"
#include "model/WorkQueues.h"
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

    void withoutAFolderOnlyHistoryShows();
    void sectionTitlesAreExact();
    void emptyHistoryHasTextAndNoMenu();
    void clearAllFromTheMenu();
    void contextMenuRemovesOneEntry();
    void rowsCountDirectImages();
    void exactlyOneRowIsHighlighted();
    void clickRefreshesTheFolderAndKeepsExpansion();
    void arrowExpandsWithoutRefreshing();
    void historyClickOnADeletedFolderOnlyReports();
    void historyClickReopensWithSubfolders();
    void historyEntryThatIsAFileIsReported();
    void rowsFollowEveryScanAndEachOpenBuildsOnce();
    void historyFollowsTheTreeInOneList();

private:
    QString path(const QString &relative) const { return m_dir.path() + '/' + relative; }
    void open(const QString &folder);
    void clickHistoryRow(int row);
    QModelIndex rowOf(const QString &folderPath) const;
    QStringList highlightedPaths() const;
    QStringList imageNames() const;

    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SidebarView> m_sidebar;
};

void TestSidebar::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
    m_state = std::make_unique<AppState>(m_queues, m_dir.path() + "/ratings.json",
                                         m_dir.path() + "/settings.ini");
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
    QFuture<void> done = m_state->openFolder(QUrl::fromLocalFile(folder), true);
    QTRY_VERIFY(done.isFinished());
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

QStringList TestSidebar::imageNames() const
{
    QStringList names;
    for (const ImageItem &image : m_state->images())
        names << image.filename();
    return names;
}

void TestSidebar::withoutAFolderOnlyHistoryShows()
{
    QVERIFY(m_sidebar->folderSection()->isHidden());
    QVERIFY(!m_sidebar->historyListView()->isHidden());
    QCOMPARE(m_sidebar->folderTreeView()->model()->rowCount(), 0);

    touch(m_dir.path(), ("p/a.jpg"));
    open(path("p"));
    QVERIFY(!m_sidebar->folderSection()->isHidden());
    QCOMPARE(m_sidebar->folderTreeView()->model()->rowCount(), 1);
}

void TestSidebar::sectionTitlesAreExact()
{
    QStringList texts;
    for (QLabel *label : m_sidebar->findChildren<QLabel *>())
        texts << label->text();
    QVERIFY(texts.contains(QStringLiteral("Kelvane")));
    QVERIFY(texts.contains(QStringLiteral("当前文件夹")));
    QVERIFY(texts.contains(QStringLiteral("最近打开")));
    for (QLabel *label : m_sidebar->findChildren<QLabel *>()) {
        if (label->text() == QStringLiteral("最近打开"))
            QCOMPARE(label->font().capitalization(), QFont::MixedCase);
    }
}

void TestSidebar::emptyHistoryHasTextAndNoMenu()
{
    HistoryListView *history = m_sidebar->historyListView();
    QCOMPARE(history->emptyLabel()->text(), QStringLiteral("暂无历史记录"));
    QVERIFY(history->emptyLabel()->isVisibleTo(history));
    QVERIFY(!history->listView()->isVisibleTo(history));
    QVERIFY(m_sidebar->historyMenuButton()->isHidden());
}

void TestSidebar::clearAllFromTheMenu()
{
    m_state->folderHistory().add(QUrl::fromLocalFile(path("one")));
    m_state->folderHistory().add(QUrl::fromLocalFile(path("two")));
    QToolButton *button = m_sidebar->historyMenuButton();
    QVERIFY(!button->isHidden());
    HistoryListView *history = m_sidebar->historyListView();
    QVERIFY(history->listView()->isVisibleTo(history));
    QCOMPARE(history->listView()->model()->rowCount(), 2);
    QCOMPARE(history->listView()->model()->index(0, 0).data().toString(), QStringLiteral("two"));

    const QList<QAction *> actions = button->menu()->actions();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions.first()->text(), QStringLiteral("清除全部历史"));
    actions.first()->trigger();
    QVERIFY(m_state->folderHistory().folders().isEmpty());
    QVERIFY(button->isHidden());
    QVERIFY(history->emptyLabel()->isVisibleTo(history));
}

void TestSidebar::contextMenuRemovesOneEntry()
{
    m_state->folderHistory().add(QUrl::fromLocalFile(path("one")));
    m_state->folderHistory().add(QUrl::fromLocalFile(path("two")));
    std::unique_ptr<QMenu> menu = m_sidebar->historyListView()->createContextMenu(1);
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("移除"));
    menu->actions().first()->trigger();
    QCOMPARE(m_state->folderHistory().folders().size(), 1);
    QCOMPARE(m_state->folderHistory().folders().first().name, QStringLiteral("two"));
    QCOMPARE(m_sidebar->historyListView()->listView()->model()->rowCount(), 1);
    QVERIFY(!m_sidebar->historyListView()->createContextMenu(5));
}

void TestSidebar::rowsCountDirectImages()
{
    for (int i = 1; i <= 3; ++i)
        touch(m_dir.path(), (QStringLiteral("root/own_%1.jpg").arg(i)));
    for (int i = 1; i <= 10; ++i)
        touch(m_dir.path(), (QStringLiteral("root/sub/s_%1.png").arg(i)));
    open(path("root"));

    const QModelIndex root = rowOf(path("root"));
    const QModelIndex sub = rowOf(path("root/sub"));
    QVERIFY(root.isValid() && sub.isValid());
    QCOMPARE(sub.parent(), root);
    QCOMPARE(root.data().toString(), QStringLiteral("root"));
    QCOMPARE(root.data(FolderTreeView::DirectImageCountRole).toInt(), 3);
    QCOMPARE(sub.data(FolderTreeView::DirectImageCountRole).toInt(), 10);
    // Groups start collapsed.
    QVERIFY(!m_sidebar->folderTreeView()->isExpanded(root));
}

void TestSidebar::exactlyOneRowIsHighlighted()
{
    touch(m_dir.path(), ("root/a.jpg"));
    touch(m_dir.path(), ("root/sub/b.jpg"));
    touch(m_dir.path(), ("root/other/c.jpg"));
    QVERIFY(highlightedPaths().isEmpty());
    open(path("root"));
    QCOMPARE(highlightedPaths(), QStringList({path("root")}));

    m_state->setSelectedFolderURL(QUrl::fromLocalFile(path("root/sub")));
    QCOMPARE(highlightedPaths(), QStringList({path("root/sub")}));
    m_state->setSelectedFolderURL(std::nullopt);
    QVERIFY(highlightedPaths().isEmpty());
}

void TestSidebar::clickRefreshesTheFolderAndKeepsExpansion()
{
    touch(m_dir.path(), ("root/a.jpg"));
    touch(m_dir.path(), ("root/sub/b.jpg"));
    touch(m_dir.path(), ("root/sub/c.jpg"));
    open(path("root"));
    FolderTreeView *tree = m_sidebar->folderTreeView();
    m_sidebar->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_sidebar.get()));
    tree->expand(rowOf(path("root")));

    const QRect subRect = tree->visualRect(rowOf(path("root/sub")));
    QVERIFY(subRect.isValid());
    QTRY_VERIFY(tree->viewport()->rect().contains(subRect.center())); // the tree grew
    QSignalSpy refreshing(m_state.get(), &AppState::statusMessageChanged);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, subRect.center());
    QVERIFY(!refreshing.isEmpty());
    QCOMPARE(refreshing.first().first().toString(), QStringLiteral("正在刷新..."));
    QTRY_VERIFY(!m_state->isLoading());

    QCOMPARE(m_state->selectedFolderURL(), QUrl::fromLocalFile(path("root/sub")));
    QCOMPARE(imageNames(), QStringList({"b.jpg", "c.jpg"}));
    QCOMPARE(highlightedPaths(), QStringList({path("root/sub")}));
    QVERIFY(tree->isExpanded(rowOf(path("root"))));
}

void TestSidebar::arrowExpandsWithoutRefreshing()
{
    touch(m_dir.path(), ("root/a.jpg"));
    touch(m_dir.path(), ("root/sub/b.jpg"));
    open(path("root"));
    FolderTreeView *tree = m_sidebar->folderTreeView();
    m_sidebar->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_sidebar.get()));
    const QModelIndex root = rowOf(path("root"));
    const QRect rowRect = tree->visualRect(root);
    QSignalSpy refreshing(m_state.get(), &AppState::statusMessageChanged);
    // The disclosure arrow sits in the indentation left of the row's own rectangle.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      QPoint(rowRect.left() - tree->indentation() / 2, rowRect.center().y()));
    QVERIFY(tree->isExpanded(root));
    QVERIFY(refreshing.isEmpty());
}

void TestSidebar::historyClickOnADeletedFolderOnlyReports()
{
    touch(m_dir.path(), ("kept/a.jpg"));
    open(path("kept"));
    const QUuid openRoot = m_state->currentFolder()->id;
    touch(m_dir.path(), ("vanished/b.jpg"));
    m_state->folderHistory().add(QUrl::fromLocalFile(path("vanished")));
    QVERIFY(QDir(path("vanished")).removeRecursively());

    clickHistoryRow(0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("文件夹不存在: vanished"));
    QVERIFY(!m_state->isLoading());
    QCOMPARE(m_state->currentFolder()->id, openRoot);
    QCOMPARE(m_state->folderHistory().folders().size(), 2);
    QCOMPARE(m_state->folderHistory().folders().first().path, path("vanished"));
}

void TestSidebar::historyClickReopensWithSubfolders()
{
    touch(m_dir.path(), ("trip/a.jpg"));
    touch(m_dir.path(), ("trip/day2/b.jpg"));
    m_state->folderHistory().add(QUrl::fromLocalFile(path("trip")));
    QSignalSpy opening(m_state.get(), &AppState::statusMessageChanged);
    clickHistoryRow(0);
    QVERIFY(!opening.isEmpty());
    QCOMPARE(opening.first().first().toString(), QStringLiteral("正在扫描文件夹..."));
    QTRY_VERIFY(!m_state->isLoading());
    QCOMPARE(m_state->currentFolder()->path(), path("trip"));
    QCOMPARE(imageNames(), QStringList({"a.jpg", "b.jpg"}));
}

void TestSidebar::historyEntryThatIsAFileIsReported()
{
    const QString file = touch(m_dir.path(), ("not-a-folder.jpg"));
    m_state->folderHistory().add(QUrl::fromLocalFile(file));
    clickHistoryRow(0);
    QTRY_VERIFY(!m_state->isLoading());
    QVERIFY(!m_state->currentFolder());
    QCOMPARE(m_state->statusMessage(), QStringLiteral("无法读取文件夹「not-a-folder.jpg」"));
}

void TestSidebar::rowsFollowEveryScanAndEachOpenBuildsOnce()
{
    touch(m_dir.path(), "root/a.jpg");
    const QString shot = touch(m_dir.path(), "root/sub/b.jpg");
    QSignalSpy resets(m_sidebar->folderTreeView()->model(), &QAbstractItemModel::modelReset);
    open(path("root"));
    QCOMPARE(resets.count(), 1);

    // A sub-folder emptied on disk and refreshed twice: its row must still act.
    QVERIFY(QFile::remove(shot));
    FolderTreeView *tree = m_sidebar->folderTreeView();
    for (int round = 0; round < 3; ++round) {
        const QModelIndex sub = rowOf(path("root/sub"));
        QVERIFY(sub.isValid());
        QVERIFY(m_state->currentFolder()->find(sub.data(FolderTreeView::NodeIdRole).toUuid()));
        m_sidebar->show();
        tree->expand(rowOf(path("root")));
        const QRect rect = tree->visualRect(rowOf(path("root/sub")));
        QTRY_VERIFY(tree->viewport()->rect().contains(rect.center()));
        QSignalSpy refreshing(m_state.get(), &AppState::loadingChanged);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
        QVERIFY(!refreshing.isEmpty());
        QTRY_VERIFY(!m_state->isLoading());
    }
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
