#include "BrowseFixtures.h"
#include "TestFiles.h"
#include "browse/FolderTreeView.h"
#include "browse/HistoryListView.h"
#include "browse/SidebarView.h"
#include "state/AppState.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using TestFiles::touch;

class TestSidebar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = QTemporaryDir();
        QVERIFY(m_dir.isValid());
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
        m_sidebar = std::make_unique<SidebarView>(*m_state);
        m_sidebar->resize(240, 700);
        new QAbstractItemModelTester(m_sidebar->folderTreeView()->model(), m_sidebar.get());
    }
    void cleanup() { m_sidebar.reset(), m_state.reset(); }

    void historyShowsWithoutAFolderItsMenusRemoveAndAClickReopens()
    {
        HistoryListView *history = m_sidebar->historyListView();
        QToolButton *button = m_sidebar->historyMenuButton();
        QVERIFY(history->emptyLabel()->isVisibleTo(history) &&
                !history->listView()->isVisibleTo(history));
        QVERIFY(button->isHidden() && m_sidebar->folderSection()->isHidden());

        for (const char *name : {"one", "two", "three"})
            m_state->folderHistory().add(QUrl::fromLocalFile(path(name)));
        QVERIFY(history->listView()->isVisibleTo(history) && !button->isHidden());
        QCOMPARE(history->listView()->model()->index(0, 0).data().toString(),
                 QStringLiteral("three"));
        std::unique_ptr<QMenu> menu = history->createContextMenu(1);
        menu->actions().first()->trigger();
        QCOMPARE(history->listView()->model()->rowCount(), 2);
        QCOMPARE(m_state->folderHistory().folders().last().name, QStringLiteral("one"));
        QVERIFY(!history->createContextMenu(5));
        const QList<QAction *> actions = button->menu()->actions();
        actions.first()->trigger();
        QVERIFY(m_state->folderHistory().folders().isEmpty());
        QVERIFY(button->isHidden() && history->emptyLabel()->isVisibleTo(history));

        // A click reopens the folder with its sub-folders (tst_mainwindow: a deleted one).
        touchAll({"trip/a.jpg", "trip/day2/b.jpg"});
        m_state->folderHistory().add(QUrl::fromLocalFile(path("trip")));
        showSidebar();
        QListView *list = m_sidebar->historyListView()->listView();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(0, 0)).center());
        QTRY_VERIFY(!m_state->isLoading());
        QCOMPARE(imageNames(), (QStringList{"a.jpg", "b.jpg"}));
    }
    void rowsCountDirectImagesAndAClickRefreshesButTheArrowOnlyExpands()
    {
        touchAll({"root/a1.jpg", "root/a2.jpg", "root/a3.jpg", "root/sub/b.jpg", "root/sub/c.png",
                  "root/other/d.jpg"});
        FolderTreeView *tree = m_sidebar->folderTreeView();
        QSignalSpy resets(tree->model(), &QAbstractItemModel::modelReset);
        open(path("root"));
        QVERIFY(!m_sidebar->folderSection()->isHidden());
        QCOMPARE(resets.count(), 1); // an open builds the rows once
        const QModelIndex root = rowOf(path("root"));
        const QModelIndex sub = rowOf(path("root/sub"));
        QVERIFY(root.isValid() && sub.isValid());
        QCOMPARE(sub.parent(), root);
        QCOMPARE(root.data().toString(), QStringLiteral("root"));
        QCOMPARE(root.data(FolderTreeView::DirectImageCountRole).toInt(), 3);
        QCOMPARE(sub.data(FolderTreeView::DirectImageCountRole).toInt(), 2);
        QCOMPARE(highlightedPaths(), QStringList({path("root")}));
        m_state->setSelectedFolderURL(QUrl::fromLocalFile(path("root/sub")));
        QCOMPARE(highlightedPaths(), QStringList({path("root/sub")}));

        showSidebar();
        QSignalSpy refreshing(m_state.get(), &AppState::statusMessageChanged);
        // The disclosure arrow sits in the indentation left of the row's own rectangle.
        const QRect rootRect = tree->visualRect(rowOf(path("root")));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          QPoint(rootRect.left() - tree->indentation() / 2, rootRect.center().y()));
        QVERIFY(tree->isExpanded(rowOf(path("root"))));
        QVERIFY(refreshing.isEmpty());

        const QRect subRect = tree->visualRect(rowOf(path("root/sub")));
        QTRY_VERIFY(tree->viewport()->rect().contains(subRect.center())); // the tree grew
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, subRect.center());
        QVERIFY(!refreshing.isEmpty());
        QTRY_VERIFY(!m_state->isLoading());
        QCOMPARE(m_state->selectedFolderURL(), QUrl::fromLocalFile(path("root/sub")));
        QCOMPARE(imageNames(), QStringList({"b.jpg", "c.png"}));
        QCOMPARE(highlightedPaths(), QStringList({path("root/sub")}));
        QVERIFY(tree->isExpanded(rowOf(path("root"))));

        // Emptied on disk and refreshed again and again, the row still acts.
        QVERIFY(QFile::remove(path("root/sub/b.jpg")) && QFile::remove(path("root/sub/c.png")));
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
    void historyFollowsTheTreeInOneList()
    {
        touchAll({"root/a.jpg", "root/sub/b.jpg"});
        showSidebar();
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
        QVERIFY(tree->width() <= m_sidebar->width() && history->width() <= m_sidebar->width());
    }

private:
    QString path(const QString &relative) const { return m_dir.path() + '/' + relative; }
    void open(const QString &folder) { QVERIFY(BrowseFixtures::open(*m_state, folder)); }
    void touchAll(std::initializer_list<const char *> names)
    {
        for (const char *name : names)
            touch(m_dir.path(), name);
    }
    void showSidebar()
    {
        m_sidebar->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_sidebar.get()));
    }
    QModelIndex rowOf(const QString &folderPath) const
    {
        const QAbstractItemModel *model = m_sidebar->folderTreeView()->model();
        const QModelIndexList found =
            model->match(model->index(0, 0), FolderTreeView::PathRole, folderPath, 1,
                         Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QModelIndex() : found.first();
    }
    QStringList highlightedPaths() const
    {
        const QAbstractItemModel *model = m_sidebar->folderTreeView()->model();
        QStringList paths;
        const QModelIndexList found =
            model->match(model->index(0, 0), FolderTreeView::HighlightedRole, true, -1,
                         Qt::MatchExactly | Qt::MatchRecursive);
        for (const QModelIndex &index : found)
            paths << index.data(FolderTreeView::PathRole).toString();
        return paths;
    }
    QStringList imageNames() const { return BrowseFixtures::filenames(m_state->images()); }

    WorkQueues m_queues;
    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SidebarView> m_sidebar;
};

QTEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
