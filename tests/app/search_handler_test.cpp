// "Search" in the window: the list, the count label, the pointer, Escape and
// close, and a window that repaints but acts on no input while the walk runs.
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <set>

#include "app/count_label.h"
#include "search/searchfiles.h"
#include "tests/app/window_fixture.h"

using namespace kestrafin::testing;
using std::chrono::milliseconds;

namespace {

// A program folder whose own tree is searched: a long folder with `files` files.
struct SearchWindow : WindowUnderTest {
    std::string long_folder;
    explicit SearchWindow(int files, milliseconds repaint = milliseconds(100))
        : WindowUnderTest(nullptr, repaint) {
        std::vector<std::string> names;
        for (int i = 0; i < files; ++i) names.push_back("file" + std::to_string(i));
        long_folder = make_folder_chain(folder.path(), {"tree", std::string(200, 's')}, names);
        window->tmrwait2->stop();  // no first-run default in these tests
        set_root(folder / "tree");
    }
    void set_root(const std::string& root) {
        when_dialog_shows([root](QWidget* dialog) {
            QTest::keyClicks(dialog->focusWidget(), QString::fromStdString(root));
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        });
        window->cmdseldir->click();
    }
};

}  // namespace

class SearchHandlerTest : public QObject {
    Q_OBJECT
  private slots:
    void count_label_shows_the_count_and_records_found() {
        SearchWindow one(1);
        one.window->cmdgetfilelist->click();
        QVERIFY(one.settled());
        QCOMPARE(one.entries(), std::vector<std::string>{one.long_folder + "/file0"});
        QCOMPARE(one.window->lbllistcount->text(), QStringLiteral("1 records found"));
        QCOMPARE(one.window->lvFiles->model()->rowCount(), 1);
        QCOMPARE(one.window->lvFiles->model()->index(0, 0).data().toString(),
                 QString::fromStdString(one.long_folder + "/file0"));

        SearchWindow many(1057);
        many.window->cmdgetfilelist->click();
        QVERIFY(many.settled());
        QCOMPARE(many.window->lbllistcount->text(), QStringLiteral("1057 records found"));
        QCOMPARE(many.window->lvFiles->model()->rowCount(), 1057);
        // A second search starts from an empty list.
        many.window->cmdgetfilelist->click();
        QVERIFY(many.settled());
        QCOMPARE(many.items().Count(), std::size_t{1057});
    }

    void the_list_holds_what_the_walk_finds_in_its_order() {
        WindowUnderTest w(&large_tree());
        struct Collect : kestrafin::search::SearchSink {
            std::vector<std::string> found;
            void add_entry(std::string_view text) override { found.emplace_back(text); }
        } walk;
        kestrafin::search::searchfiles(large_tree(), true, walk,
                                       {.threads = kestrafin::search::kDefaultThreads});
        QVERIFY(walk.found.size() > 1000);
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        QVERIFY(w.entries() == walk.found);
        QCOMPARE(w.window->lvFiles->model()->rowCount(), static_cast<int>(walk.found.size()));
        QCOMPARE(w.window->lbllistcount->text(),
                 kestrafin::app::count_label_text(walk.found.size()));
    }

    void a_search_that_finds_nothing_leaves_the_label_empty() {
        SearchWindow w(3);
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.items().Count(), std::size_t{3});
        w.set_root(w.folder / "missing");
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.items().Count(), std::size_t{0});
        QVERIFY(w.window->lbllistcount->text().isEmpty());
        QCOMPARE(w.window->lvFiles->model()->rowCount(), 0);
    }

    void the_hourglass_shows_for_the_whole_search_and_the_label_follows_it() {
        WindowUnderTest w(&large_tree());
        std::vector<Qt::CursorShape> during;
        std::set<QString> labels;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, [&] {
            if (!w.window->busy()) return;
            const QCursor* cursor = QApplication::overrideCursor();
            during.push_back(cursor ? cursor->shape() : Qt::ArrowCursor);
            labels.insert(w.window->lbllistcount->text());
        });
        watcher.start();
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        watcher.stop();
        QVERIFY(!during.empty());
        for (const auto shape : during) QCOMPARE(shape, Qt::WaitCursor);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // The label grew while the search ran, not only at its end, and ends exact.
        const QString final_label = kestrafin::app::count_label_text(w.items().Count());
        labels.erase(final_label);
        labels.erase(QString());
        QVERIFY2(labels.size() >= 2, qPrintable(QString::number(labels.size())));
        QCOMPARE(w.window->lbllistcount->text(), final_label);
    }

    void escape_stops_a_search_and_keeps_what_it_found() {
        WindowUnderTest w(&large_tree());
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        const std::vector<std::string> whole = w.entries();
        QVERIFY(whole.size() > 1000);

        w.window->cmdgetfilelist->click();
        QVERIFY(QTest::qWaitFor([&] { return w.items().Count() > 0; }, 10000));
        QVERIFY2(w.window->busy(), "the search ended before Escape; the tree is too small");
        QTest::keyClick(w.window->lvFiles, Qt::Key_Escape);
        QVERIFY(w.settled(5000));
        const std::vector<std::string> part = w.entries();
        QVERIFY2(part.size() < whole.size(), qPrintable(QString::number(part.size())));
        QVERIFY(std::equal(part.begin(), part.end(), whole.begin()));
        QCOMPARE(w.window->lbllistcount->text(), kestrafin::app::count_label_text(part.size()));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // Escape when idle does nothing; the next search is whole again.
        QTest::keyClick(w.window->lvFiles, Qt::Key_Escape);
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.items().Count(), whole.size());
    }

    void input_during_a_search_is_not_acted_on_then_or_later() {
        WindowUnderTest w(&large_tree());
        int resets = 0;
        connect(w.window->lvFiles->model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
        auto message = close_next_message_box();
        w.window->cmdgetfilelist->click();
        QVERIFY(w.window->busy());
        press_everything(*w.window);
        QVERIFY2(w.window->busy(), "the search ended before the input was sent");
        QVERIFY(w.settled());
        QTest::qWait(50);
        QCOMPARE(resets, 1);  // one search, none replayed
        QVERIFY(w.started->empty());
        QVERIFY(!message->shown);  // "Reload List" would have said there is no file
        QCOMPARE(access((w.folder / "kestrafinlist.dxb").c_str(), F_OK), -1);
        // Afterwards the window takes input again.
        QTest::keyClick(w.window->cmdsavelist, Qt::Key_Space);
        QVERIFY(w.settled());
        QCOMPARE(access((w.folder / "kestrafinlist.dxb").c_str(), F_OK), 0);
    }

    void closing_during_a_search_ends_the_program() {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        child.start(QStringLiteral(KESTRAFIN_CLOSE_CHILD),
                    {QStringLiteral("search"), QString::fromStdString(large_tree())});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForFinished(30000), "the program did not end after its window closed");
        const QString said = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(said.contains(QStringLiteral("closed while searching")), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("ended")), qPrintable(said));
        qInfo("child ran %lld ms: %s", static_cast<long long>(clock.elapsed()), qPrintable(said));
    }

    void a_search_through_a_link_into_proc_ends_and_lists_nothing_from_it() {
        if (access("/proc/self", F_OK) != 0) QSKIP("no /proc on this host");
        SearchWindow w(2);
        // Below /proc, links lead into the same folders again by ever new routes.
        make_link("/proc", w.long_folder + "/into-proc");
        make_link("/proc/self", w.long_folder + "/into-self");
        w.window->cmdgetfilelist->click();
        QVERIFY2(w.settled(30000), "the search did not end");
        auto entries = w.entries();
        std::sort(entries.begin(), entries.end());
        QCOMPARE(entries,
                 (std::vector<std::string>{w.long_folder + "/file0", w.long_folder + "/file1"}));
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("2 records found"));
    }
};

QTEST_MAIN(SearchHandlerTest)
#include "search_handler_test.moc"
