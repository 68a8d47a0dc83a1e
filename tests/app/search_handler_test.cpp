// "Search" in the window: the list, the count label, the pointer, and a
// window that repaints but takes no input while the walk runs.
#include <QKeyEvent>
#include <QTest>

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
        QCOMPARE(one.entries(), std::vector<std::string>{one.long_folder + "/file0"});
        QCOMPARE(one.window->lbllistcount->text(), QStringLiteral("1 records found"));
        QCOMPARE(one.window->lvFiles->model()->rowCount(), 1);
        QCOMPARE(one.window->lvFiles->model()->index(0, 0).data().toString(),
                 QString::fromStdString(one.long_folder + "/file0"));

        SearchWindow many(1057);
        many.window->cmdgetfilelist->click();
        QCOMPARE(many.window->lbllistcount->text(), QStringLiteral("1057 records found"));
        QCOMPARE(many.window->lvFiles->model()->rowCount(), 1057);
        // A second search starts from an empty list.
        many.window->cmdgetfilelist->click();
        QCOMPARE(many.items().Count(), std::size_t{1057});
    }

    void a_search_that_finds_nothing_leaves_the_label_empty() {
        SearchWindow w(3);
        w.window->cmdgetfilelist->click();
        QCOMPARE(w.items().Count(), std::size_t{3});
        w.set_root(w.folder / "missing");
        w.window->cmdgetfilelist->click();
        QCOMPARE(w.items().Count(), std::size_t{0});
        QVERIFY(w.window->lbllistcount->text().isEmpty());
        QCOMPARE(w.window->lvFiles->model()->rowCount(), 0);
    }

    void the_hourglass_shows_for_the_whole_search_and_the_window_repaints() {
        SearchWindow w(5000, milliseconds(0));
        std::vector<Qt::CursorShape> during;
        std::vector<QString> labels;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, [&] {
            const QCursor* cursor = QApplication::overrideCursor();
            during.push_back(cursor ? cursor->shape() : Qt::ArrowCursor);
            labels.push_back(w.window->lbllistcount->text());
        });
        watcher.start();
        w.window->cmdgetfilelist->click();
        watcher.stop();
        QVERIFY(!during.empty());
        for (const auto shape : during) QCOMPARE(shape, Qt::WaitCursor);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // The label grew while the search ran, not only at its end.
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](const QString& text) {
            return !text.isEmpty() && text != QStringLiteral("5000 records found");
        }));
    }

    void input_during_a_search_is_not_acted_on() {
        SearchWindow w(3000, milliseconds(0));
        bool posted = false;
        QTimer::singleShot(0, [&] {
            posted = true;
            // A press of "Save List" and an Enter for a second search.
            QCoreApplication::postEvent(
                w.window->cmdsavelist,
                new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
            QCoreApplication::postEvent(
                w.window->cmdsavelist,
                new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " "));
            QCoreApplication::postEvent(
                w.window.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        });
        w.window->cmdgetfilelist->click();
        QVERIFY(posted);
        QCoreApplication::processEvents();
        QCOMPARE(access((w.folder / "kestrafinlist.dxb").c_str(), F_OK), -1);
        QCOMPARE(w.items().Count(), std::size_t{3000});
        // After the search the window takes input again.
        QTest::keyClick(w.window->cmdsavelist, Qt::Key_Space);
        QCOMPARE(access((w.folder / "kestrafinlist.dxb").c_str(), F_OK), 0);
    }
};

QTEST_MAIN(SearchHandlerTest)
#include "search_handler_test.moc"
