// The root folder setting: load, the first-run default, "Change" and "Save path".
#include <sys/socket.h>
#include <sys/un.h>
#include <QInputDialog>
#include <QTest>
#include <QToolTip>

#include <cstring>

#include "tests/app/silent_share.h"
#include "tests/app/window_fixture.h"

using namespace kestrafin::testing;
using std::chrono::milliseconds;

namespace {

const std::string kDefaultFile = "[PATH]\r\nFULLPATH=/\r\n";

// Answers the "Change" prompt: types `text` and presses OK, or cancels.
void answer_prompt(kestrafin::app::frmMain& window, const QString& text, bool confirm,
                   QString* title = nullptr, QString* label = nullptr) {
    when_dialog_shows([=](QWidget* dialog) {
        auto* prompt = qobject_cast<QInputDialog*>(dialog);
        if (title) *title = prompt->windowTitle();
        if (label) *label = prompt->labelText();
        QVERIFY(prompt->textValue().isEmpty());
        QTest::keyClicks(prompt->focusWidget(), text);
        if (confirm)
            prompt->accept();
        else
            prompt->reject();
    });
    window.cmdseldir->click();
}

}  // namespace

class RootSettingTest : public QObject {
    Q_OBJECT
  private slots:
    void first_run_creates_the_file_empty_and_stores_the_default_half_a_second_later() {
        WindowUnderTest w;
        QCOMPARE(access((w.folder / "kestrafin.ini").c_str(), F_OK), 0);
        QCOMPARE(w.ini(), std::string());
        QVERIFY(w.window->txtFileroot->text().isEmpty());
        QVERIFY(w.window->tmrwait2->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(w.ini(), kDefaultFile, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(w.window->txtFileroot->text(), QStringLiteral("/"), 3000);
        QVERIFY(!w.window->tmrwait2->isActive());
        // It ticks once: a value saved afterwards stays.
        answer_prompt(*w.window, "/after", true);
        w.window->cmdsave->click();
        QVERIFY(w.settled());
        QTest::qWait(700);
        QCOMPARE(w.ini(), std::string("[PATH]\r\nFULLPATH=/after\r\n"));
    }

    void a_root_entered_before_the_tick_is_replaced_by_the_default() {
        WindowUnderTest w;
        answer_prompt(*w.window, "/chosen", true);
        QCOMPARE(w.window->txtFileroot->text(), QStringLiteral("/chosen"));
        QTRY_COMPARE_WITH_TIMEOUT(w.window->txtFileroot->text(), QStringLiteral("/"), 3000);
        QCOMPARE(w.ini(), kDefaultFile);
    }

    void save_path_before_the_tick_stores_an_empty_value_then_the_tick_stores_the_default() {
        WindowUnderTest w;
        w.window->cmdsave->click();
        QVERIFY(w.settled());
        QCOMPARE(w.ini(), std::string("[PATH]\r\nFULLPATH=\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(w.ini(), kDefaultFile, 3000);
    }

    void the_tick_waits_until_a_running_search_has_ended() {
        WindowUnderTest w(nullptr, milliseconds(0));
        std::vector<std::string> names(20000);
        for (std::size_t i = 0; i < names.size(); ++i) names[i] = "f" + std::to_string(i);
        make_folder_chain(w.folder.path(), {std::string(200, 't')}, names);
        answer_prompt(*w.window, QString::fromStdString(w.folder.path()), true);
        w.window->tmrwait2->setInterval(1);  // falls due at once, inside the search
        std::vector<std::string> ini_during;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, [&] { ini_during.push_back(w.ini()); });
        watcher.start();
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        watcher.stop();
        QCOMPARE(w.items().Count(), std::size_t{20000});
        QVERIFY(!ini_during.empty());
        for (const auto& during : ini_during) QCOMPARE(during, std::string());
        QTRY_COMPARE_WITH_TIMEOUT(w.ini(), kDefaultFile, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(w.window->txtFileroot->text(), QStringLiteral("/"), 3000);
    }

    void the_whole_root_shows_when_hovering_over_the_disabled_box() {
        const std::string root = "/" + std::string(250, 'r') + "/end of the root";
        WindowUnderTest w(&root);
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QLineEdit* box = w.window->txtFileroot;
        QVERIFY(!box->isEnabled());
        QCOMPARE(box->focusPolicy(), Qt::NoFocus);
        QTest::mouseMove(box, box->rect().center());
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
        QCOMPARE(QToolTip::text(), QString::fromStdString(root));
        QVERIFY(!box->isEnabled());
        QVERIFY(!box->hasFocus());
        QToolTip::hideText();
    }

    void the_stored_root_is_shown_at_the_next_load() {
        WindowUnderTest w;
        QTRY_COMPARE_WITH_TIMEOUT(w.ini(), kDefaultFile, 3000);
        answer_prompt(*w.window, "/srv/share [old]", true);
        w.window->cmdsave->click();
        QVERIFY(w.settled());
        w.load();
        QCOMPARE(w.window->txtFileroot->text(), QStringLiteral("/srv/share [old]"));
        QVERIFY(!w.window->tmrwait2->isActive());
    }

    void a_file_without_the_key_gives_an_empty_box_and_no_default() {
        WindowUnderTest w;
        make_file(w.folder / "kestrafin.ini", "[OTHER]\r\nA=1\r\n");
        w.load();
        QVERIFY(w.window->txtFileroot->text().isEmpty());
        QVERIFY(!w.window->tmrwait2->isActive());
        QTest::qWait(700);
        QCOMPARE(w.ini(), std::string("[OTHER]\r\nA=1\r\n"));
        w.load();
        QVERIFY(w.window->txtFileroot->text().isEmpty());
    }

    void save_path_with_an_empty_box_stores_an_empty_value() {
        const std::string empty;
        WindowUnderTest w(&empty);
        w.window->cmdsave->click();
        QVERIFY(w.settled());
        QCOMPARE(w.ini(), std::string("[PATH]\r\nFULLPATH=\r\n"));
        w.load();
        QVERIFY(w.window->txtFileroot->text().isEmpty());
        QVERIFY(!w.window->tmrwait2->isActive());
    }

    void change_prompt_answers() {
        const std::string stored = "/stored";
        WindowUnderTest w(&stored);
        QString title, label;
        answer_prompt(*w.window, "/ignored", false, &title, &label);
        QCOMPARE(title, QStringLiteral("Kestrafin"));
        QCOMPARE(label, QStringLiteral("Please enter the full path"));
        QCOMPARE(w.window->txtFileroot->text(), QStringLiteral("/stored"));
        answer_prompt(*w.window, "", true);
        QCOMPARE(w.window->txtFileroot->text(), QStringLiteral("/stored"));
        QVERIFY(w.window->newroot.isEmpty());
        answer_prompt(*w.window, "   ", true);
        QCOMPARE(w.window->txtFileroot->text(), QStringLiteral("   "));
        answer_prompt(*w.window, "/new/folder", true);
        QCOMPARE(w.window->txtFileroot->text(), QStringLiteral("/new/folder"));
        QCOMPARE(w.ini(), std::string("[PATH]\r\nFULLPATH=/stored\r\n"));
        w.window->cmdsave->click();
        QVERIFY(w.settled());
        QCOMPARE(w.ini(), std::string("[PATH]\r\nFULLPATH=/new/folder\r\n"));
    }

    void a_read_only_program_folder_is_reported_and_the_tool_still_works() {
        TempFolder folder;
        chmod(folder.path().c_str(), 0555);
        AsOrdinaryUser ordinary;
        QVERIFY(ordinary.was_root || geteuid() != 0);
        auto seen = close_next_message_box();
        kestrafin::app::frmMain window(folder.path());
        window.Form_Load();
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(seen->shown, 3000);
        QCOMPARE(seen->title, QStringLiteral("Kestrafin"));
        QVERIFY2(seen->text.contains("could not be created or read"), qPrintable(seen->text));
        QVERIFY2(seen->text.contains("Permission denied"), qPrintable(seen->text));
        QCOMPARE(window.txtFileroot->text(), QStringLiteral("/"));
        QVERIFY(!window.tmrwait2->isActive());

        auto save_error = close_next_message_box();
        window.cmdsave->click();
        QTRY_VERIFY_WITH_TIMEOUT(save_error->shown, 9000);
        QCOMPARE(save_error->title, QStringLiteral("Kestrafin"));
        QVERIFY2(save_error->text.contains("cannot create settings file") &&
                     save_error->text.contains("Permission denied"),
                 qPrintable(save_error->text));
        QVERIFY(window.isVisible());
    }

    void a_settings_file_that_is_no_regular_file_is_reported_and_the_tool_still_works_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "FIFO";
        QTest::newRow("socket") << "socket";
        QTest::newRow("folder") << "folder";
    }

    void a_settings_file_that_is_no_regular_file_is_reported_and_the_tool_still_works() {
        QFETCH(QString, kind);
        TempFolder folder;
        const std::string ini = folder / "kestrafin.ini";
        int listener = -1;
        if (kind == "FIFO") {
            QCOMPARE(mkfifo(ini.c_str(), 0666), 0);
        } else if (kind == "socket") {
            listener = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, ini.c_str(), sizeof address.sun_path - 1);
            QCOMPARE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        } else {
            make_folder(ini);
        }
        auto seen = close_next_message_box();
        kestrafin::app::frmMain window(folder.path());
        alarm(10);  // a blocking open ends the test here instead of hanging it
        window.Form_Load();
        alarm(0);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(seen->shown, 3000);
        QCOMPARE(seen->title, QStringLiteral("Kestrafin"));
        QVERIFY2(seen->text.contains("it is a " + kind + ", not a regular file"),
                 qPrintable(seen->text));
        QCOMPARE(window.txtFileroot->text(), QStringLiteral("/"));
        QVERIFY(!window.tmrwait2->isActive());

        auto save_error = close_next_message_box();
        alarm(10);
        window.cmdsave->click();
        QTRY_VERIFY_WITH_TIMEOUT(save_error->shown, 9000);
        alarm(0);
        QCOMPARE(save_error->title, QStringLiteral("Kestrafin"));
        QVERIFY2(save_error->text.contains("not a regular file"), qPrintable(save_error->text));
        answer_prompt(window, "/still/works", true);
        QCOMPARE(window.txtFileroot->text(), QStringLiteral("/still/works"));
        struct stat info {};
        QCOMPARE(lstat(ini.c_str(), &info), 0);
        QVERIFY(!S_ISREG(info.st_mode));
        if (listener >= 0) close(listener);
    }

    void a_settings_file_on_a_share_that_stops_answering_leaves_the_window_working() {
#ifndef KESTRAFIN_LATENCY_FS
        QSKIP("built without libfuse3, so no share that stops answering can be served");
#else
        TempFolder place;
        const std::string source = place / "source";
        const std::string share = place / "share";
        make_folder(source);
        make_folder(share);
        make_file(source + "/kestrafin.ini", "[PATH]\r\nFULLPATH=/stored\r\n");
        ShareServer server(source, share);
        if (!server.serving()) QSKIP(server.why_not().c_str());
        kestrafin::app::frmMain window(share);
        window.Form_Load();
        window.show();
        QCOMPARE(window.txtFileroot->text(), QStringLiteral("/stored"));

        // "Save path" and the first-run tick both write the settings file.
        const std::vector<std::pair<const char*, std::function<void()> > > writers = {
            {"Save path", [&] { window.cmdsave->click(); }},
            {"the tick", [&] { window.tmrwait2_Timer(); }},
        };
        for (const auto& [writer, act] : writers) {
            // The share is read-only, so the write fails once it answers.
            auto seen = close_next_message_box();
            server.stop_answering();
            QVERIFY2(returns_while_share_is_silent(server, act), writer);
            QVERIFY(window.busy());
            bool ticked = false;
            QTimer::singleShot(20, [&] { ticked = true; });
            QVERIFY(QTest::qWaitFor([&] { return ticked; }, 5000));
            QVERIFY(window.busy());
            QVERIFY(!seen->shown);
            server.answer_again();
            QTRY_VERIFY_WITH_TIMEOUT(seen->shown, 60000);
            QCOMPARE(seen->title, QStringLiteral("Kestrafin"));
            QVERIFY2(seen->text.contains(std::strerror(EROFS)), qPrintable(seen->text));
            QVERIFY(QTest::qWaitFor([&] { return !window.busy(); }, 60000));
            QCOMPARE(window.txtFileroot->text(), QStringLiteral("/stored"));
        }

        // Loading waits only so long, then shows the window without the file.
        kestrafin::app::WindowServices impatient;
        impatient.settings_patience = milliseconds(300);
        kestrafin::app::frmMain reloaded(share, impatient);
        auto load_error = close_next_message_box();
        server.stop_answering();
        QVERIFY2(returns_while_share_is_silent(server, [&] { reloaded.Form_Load(); }),
                 "loading waited for the share");
        reloaded.show();
        QCOMPARE(reloaded.txtFileroot->text(), QStringLiteral("/"));
        QVERIFY(!reloaded.tmrwait2->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(load_error->shown, 5000);
        QCOMPARE(load_error->title, QStringLiteral("Kestrafin"));
        QVERIFY2(load_error->text.contains("the program folder did not answer"),
                 qPrintable(load_error->text));
        server.answer_again();
#endif
    }

    void a_root_with_a_line_break_is_refused_and_the_file_keeps_its_value() {
        const std::string stored = "/stored";
        WindowUnderTest w(&stored);
        when_dialog_shows([](QWidget* dialog) {
            auto* prompt = qobject_cast<QInputDialog*>(dialog);
            prompt->setTextValue("/tmp/a\nb");
            prompt->accept();
        });
        w.window->cmdseldir->click();
        auto seen = close_next_message_box();
        w.window->cmdsave->click();
        QVERIFY(w.settled());
        if (w.window->root_text().find('\n') == std::string::npos)
            QSKIP("the prompt does not pass line breaks on this platform");
        QVERIFY(seen->shown);
        QVERIFY(seen->text.contains("line break"));
        QCOMPARE(w.ini(), std::string("[PATH]\r\nFULLPATH=/stored\r\n"));
    }
};

QTEST_MAIN(RootSettingTest)
#include "root_setting_test.moc"
