// "Save List" and "Reload List" in the window.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <QKeyEvent>
#include <QProcess>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "listfile/saved_list.h"

#include "tests/app/silent_share.h"
#include "tests/app/window_fixture.h"

using namespace kestrafin::testing;
using kestrafin::listfile::append_record;

namespace {

const std::string kRoot = "/unused";

void fill(WindowUnderTest& w, const std::vector<std::string>& texts) {
    w.items().Clear();
    for (const auto& text : texts) w.items().Add(text);
    w.items().Refresh();
}

std::vector<std::string> numbered(std::size_t count) {
    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) texts.push_back("/srv/share/f, " + std::to_string(i));
    return texts;
}

// A figure of /proc/self/status, such as "VmRSS:", in KiB.
long memory_kib(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    return -1;
}

}  // namespace

class SavedListHandlerTest : public QObject {
    Q_OBJECT
  private slots:
    void save_then_reload_gives_back_the_same_entries() {
        WindowUnderTest w(&kRoot);
        const std::vector<std::string> texts = {"/a/one", "/b/with, comma", "/c/three"};
        fill(w, texts);
        w.window->cmdsavelist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.saved_list(),
                 std::string("\"/a/one\"\r\n\"/b/with, comma\"\r\n\"/c/three\"\r\n"));
        QVERIFY(w.window->lbllistcount->text().isEmpty());  // saving shows nothing
        const std::string first = w.saved_list();
        w.window->cmdsavelist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.saved_list(), first);

        w.load();  // a restart
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.entries(), texts);
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("3 records found"));
        QCOMPARE(w.window->lvFiles->model()->rowCount(), 3);
    }

    void an_empty_list_saves_as_zero_bytes_and_reloads_empty() {
        WindowUnderTest w(&kRoot);
        fill(w, {});
        w.window->cmdsavelist->click();
        QVERIFY(w.settled());
        QCOMPARE(access((w.folder / "kestrafinlist.dxb").c_str(), F_OK), 0);
        QCOMPARE(w.saved_list(), std::string());
        fill(w, {"/x"});
        w.window->lbllistcount->setText("1 records found");
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.items().Count(), std::size_t{0});
        QVERIFY(w.window->lbllistcount->text().isEmpty());
    }

    void lists_past_the_sixteen_bit_limit_save_and_reload_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("32766") << 32766;
        QTest::newRow("32767") << 32767;
        QTest::newRow("100000") << 100000;
    }

    void lists_past_the_sixteen_bit_limit_save_and_reload() {
        QFETCH(int, count);
        WindowUnderTest w(&kRoot);
        const auto texts = numbered(static_cast<std::size_t>(count));
        fill(w, texts);
        w.window->cmdsavelist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.window->listtotal, static_cast<std::size_t>(count));
        fill(w, {});
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.entries(), texts);
        QCOMPARE(w.window->lbllistcount->text(), QString::number(count) + " records found");
    }

    void input_during_a_save_or_a_reload_is_not_acted_on_then_or_later() {
        WindowUnderTest w(&kRoot);
        const auto texts = numbered(600'000);
        fill(w, texts);
        int resets = 0;
        connect(w.window->lvFiles->model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
        const auto run_pressing_everything = [&](QPushButton* button) {
            button->click();
            QVERIFY(w.window->busy());
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            press_everything(*w.window);
            QVERIFY2(w.window->busy(), "the work ended before the input was sent");
            QVERIFY(w.settled());
            QTest::qWait(50);
            QVERIFY(QApplication::overrideCursor() == nullptr);
        };

        run_pressing_everything(w.window->cmdsavelist);
        QCOMPARE(resets, 0);  // no search and no reload ran
        QVERIFY(w.started->empty());
        struct stat saved {};
        QCOMPARE(stat((w.folder / "kestrafinlist.dxb").c_str(), &saved), 0);

        // Keys that come while the reloaded entries are put in place are dropped too.
        bool pressed_while_filling = false;
        connect(w.window->lvFiles->model(), &QAbstractItemModel::modelReset, [&] {
            if (w.items().Count() == 0) return;
            pressed_while_filling = true;
            for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease})
                QCoreApplication::postEvent(
                    w.window->cmdsavelist, new QKeyEvent(type, Qt::Key_Space, Qt::NoModifier, " "));
        });
        run_pressing_everything(w.window->cmdloadlist);
        QVERIFY(pressed_while_filling);
        QCOMPARE(resets, 2);  // the reload empties the list and fills it, once
        QVERIFY(w.started->empty());
        struct stat after {};
        QCOMPARE(stat((w.folder / "kestrafinlist.dxb").c_str(), &after), 0);
        QCOMPARE(after.st_ino, saved.st_ino);  // not saved again
        QCOMPARE(w.entries(), texts);
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("600000 records found"));
    }

    void a_reload_needs_little_more_memory_than_the_list_it_builds() {
#ifdef __SANITIZE_ADDRESS__
        QSKIP(
            "AddressSanitizer keeps freed memory in quarantine, so the process's peak is not "
            "the program's");
#endif
        WindowUnderTest w(&kRoot);
        {
            std::ofstream file(w.folder / "kestrafinlist.dxb", std::ios::binary);
            std::string records;
            for (int i = 0; i < 400'000; ++i) {
                append_record(records, "/srv/share/projects/quarterly reports, archived/" +
                                           std::string(60 + i % 90, 'd') + "/" + std::to_string(i) +
                                           ".dat");
                if (records.size() > (1 << 20)) {
                    file << records;
                    records.clear();
                }
            }
            file << records;
        }
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5" << std::flush;
        if (!reset) QSKIP("this system cannot reset the peak memory of a process");
        reset.close();
        QTest::qWait(20);
        const long before = memory_kib("VmRSS:");
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QTest::qWait(100);  // the view lays its rows out
        QCOMPARE(w.items().Count(), std::size_t{400'000});
        const long peak = memory_kib("VmHWM:") - before;
        const long held = memory_kib("VmRSS:") - before;
        qInfo("reload of 400000 entries: peak %ld KiB above the start, list holds %ld KiB", peak,
              held);
        QVERIFY(held > 0);
        QVERIFY2(peak * 4 <= held * 5, qPrintable(QString("%1 > 1.25 x %2").arg(peak).arg(held)));
    }

    void closing_during_a_save_ends_the_program_and_leaves_a_whole_file() {
        WindowUnderTest w(&kRoot);
        const std::string previous = "\"/previous\"\r\n";
        make_file(w.folder / "kestrafinlist.dxb", previous);
        w.window.reset();  // the child program works in this folder now
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KESTRAFIN_CLOSE_CHILD),
                    {QStringLiteral("save"), QString::fromStdString(w.folder.path())});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForFinished(60000), "the program did not end after its window closed");
        const QString said = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(said.contains(QStringLiteral("closed while saving")), qPrintable(said));
        // The save was dropped or finished whole; nothing half-written is left.
        const std::string saved = w.saved_list();
        QVERIFY2(saved == previous || (saved.size() > 40'000'000 &&
                                       saved.ends_with("\"/srv/share/new/1999999\"\r\n")),
                 qPrintable(QString::number(saved.size())));
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(w.folder.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        QCOMPARE(names, (std::vector<std::string>{"kestrafin.ini", "kestrafinlist.dxb"}));
        qInfo("after the close the saved list holds %s",
              saved == previous ? "its previous content" : "the whole new list");
    }

    void a_list_larger_than_one_storage_block_reloads_in_full() {
        WindowUnderTest w(&kRoot);
        // About 12 MiB of texts, one of them larger than a 4 MiB block alone.
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < 40000; ++i)
            texts.push_back("/srv/" + std::string(180 + i % 97, 'a' + i % 26) + std::to_string(i));
        texts.insert(texts.begin() + 20000, "/huge/" + std::string(5 << 20, 'h'));
        fill(w, texts);
        w.window->cmdsavelist->click();
        QVERIFY(w.settled());
        fill(w, {});
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.items().Count(), texts.size());
        QVERIFY(w.entries() == texts);
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("40001 records found"));
    }

    void a_saved_list_that_is_no_regular_file_is_refused_with_its_kind() {
        WindowUnderTest w(&kRoot);
        const std::string saved = w.folder / "kestrafinlist.dxb";
        const auto make_socket = [&] {
            const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, saved.c_str(), sizeof address.sun_path - 1);
            const bool bound =
                saved.size() < sizeof address.sun_path &&
                bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            close(listener);
            return bound;
        };
        const std::vector<std::pair<const char*, std::function<bool()>>> kinds = {
            {"FIFO", [&] { return mkfifo(saved.c_str(), 0666) == 0; }},
            {"folder", [&] { return mkdir(saved.c_str(), 0755) == 0; }},
            {"socket", make_socket},
            {"device", [&] { return mknod(saved.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }},
        };
        for (const auto& [kind, make] : kinds) {
            std::filesystem::remove(saved);
            if (!make()) {
                qInfo("no %s can be made here (%s); that kind is not tried", kind,
                      std::strerror(errno));
                continue;
            }
            fill(w, {"/kept"});
            w.window->lbllistcount->setText("1 records found");
            const QString refusal = QStringLiteral("it is a %1, not a regular file").arg(kind);
            // The host refuses to open a socket itself, with its own words.
            const QString reason = std::strcmp(kind, "socket") == 0
                                       ? QString::fromUtf8(std::strerror(ENXIO))
                                       : refusal;
            auto save_error = close_next_message_box();
            alarm(10);  // a blocking open ends the test here instead of hanging it
            w.window->cmdsavelist->click();
            const bool saved_settled = w.settled(9000);
            alarm(0);
            QVERIFY(saved_settled);
            QVERIFY2(save_error->shown, kind);
            QCOMPARE(save_error->title, QStringLiteral("Kestrafin"));
            QVERIFY2(save_error->text.contains(refusal), qPrintable(save_error->text));

            auto reload_error = close_next_message_box();
            alarm(10);
            w.window->cmdloadlist->click();
            const bool reload_settled = w.settled(9000);
            alarm(0);
            QVERIFY(reload_settled);
            QVERIFY2(reload_error->shown, kind);
            QCOMPARE(reload_error->title, QStringLiteral("Kestrafin"));
            QCOMPARE(reload_error->icon, QMessageBox::Critical);
            QVERIFY2(reload_error->text.contains(reason) &&
                         reload_error->text.contains("kestrafinlist.dxb"),
                     qPrintable(reload_error->text));
            QCOMPARE(w.entries(), std::vector<std::string>{"/kept"});
            QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("1 records found"));
            struct stat info {};
            QCOMPARE(lstat(saved.c_str(), &info), 0);
            QVERIFY2(!S_ISREG(info.st_mode), kind);
        }
    }

    void a_saved_list_that_cannot_be_looked_at_is_reported_with_its_reason() {
        WindowUnderTest w(&kRoot);
        const std::string saved = w.folder / "kestrafinlist.dxb";
        fill(w, {"/kept"});
        w.window->lbllistcount->setText("1 records found");
        const auto reload_says = [&](const char* reason) {
            auto seen = close_next_message_box();
            w.window->cmdloadlist->click();
            QVERIFY(w.settled());
            QVERIFY(seen->shown);
            QCOMPARE(seen->title, QStringLiteral("Kestrafin"));
            QVERIFY2(seen->text.contains(reason), qPrintable(seen->text));
            QCOMPARE(w.entries(), std::vector<std::string>{"/kept"});
            QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("1 records found"));
        };
        // A link that leads to itself is there, but never reaches a file.
        QCOMPARE(symlink("kestrafinlist.dxb", saved.c_str()), 0);
        reload_says(std::strerror(ELOOP));
        if (QTest::currentTestFailed()) return;
        std::filesystem::remove(saved);

        // A program folder that this user may not look into hides whether
        // the file is there.
        make_file(saved, "\"/on disk\"\r\n");
        chmod(w.folder.path().c_str(), 0700);
        AsOrdinaryUser ordinary;
        if (!ordinary.was_root && geteuid() == 0) QSKIP("no other user can be taken on here");
        reload_says(std::strerror(EACCES));
    }

    void saving_and_reloading_on_a_share_that_stops_answering_leave_the_window_working() {
#ifndef KESTRAFIN_LATENCY_FS
        QSKIP("built without libfuse3, so no share that stops answering can be served");
#else
        TempFolder place;
        const std::string source = place / "source";
        const std::string share = place / "share";
        make_folder(source);
        make_folder(share);
        make_file(source + "/kestrafin.ini", "[PATH]\r\nFULLPATH=/unused\r\n");
        make_file(source + "/kestrafinlist.dxb", "\"/from the share\"\r\n");
        ShareServer server(source, share);
        if (!server.serving()) QSKIP(server.why_not().c_str());

        kestrafin::app::frmMain window(share);
        window.Form_Load();
        window.show();
        window.lvFiles->list_items().Add("/kept");
        window.lvFiles->list_items().Refresh();

        // The share is read-only, so the save fails once it answers again.
        auto save_error = close_next_message_box();
        server.stop_answering();
        QVERIFY2(returns_while_share_is_silent(server, [&] { window.cmdsavelist->click(); }),
                 "Save List waited for the share");
        QVERIFY(window.busy());
        QVERIFY(!save_error->shown);
        server.answer_again();
        QTRY_VERIFY_WITH_TIMEOUT(save_error->shown, 60000);
        QVERIFY2(save_error->text.contains(std::strerror(EROFS)), qPrintable(save_error->text));
        QVERIFY(QTest::qWaitFor([&] { return !window.busy(); }, 60000));

        server.stop_answering();
        QVERIFY2(returns_while_share_is_silent(server, [&] { window.cmdloadlist->click(); }),
                 "Reload List waited for the share");
        QVERIFY(window.busy());
        // The window goes on handling events while the share is silent.
        bool ticked = false;
        QTimer::singleShot(20, [&] { ticked = true; });
        QVERIFY(QTest::qWaitFor([&] { return ticked; }, 5000));
        QVERIFY(window.busy());
        QCOMPARE(window.lvFiles->list_items().Count(), std::size_t{1});
        QCOMPARE(window.lvFiles->list_items().Text(1), std::string("/kept"));

        server.answer_again();
        QVERIFY(QTest::qWaitFor([&] { return !window.busy(); }, 60000));
        QCOMPARE(window.lvFiles->list_items().Count(), std::size_t{1});
        QCOMPARE(window.lvFiles->list_items().Text(1), std::string("/from the share"));
        QCOMPARE(window.lbllistcount->text(), QStringLiteral("1 records found"));
#endif
    }

    void hand_edited_lines_reload_by_the_field_rules() {
        WindowUnderTest w(&kRoot);
        make_file(w.folder / "kestrafinlist.dxb", "\"/a\"\r\n/b,/c\r\n\r\n\"/d\"\r\n");
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.entries(), (std::vector<std::string>{"/a", "/b", "/c", "", "/d"}));
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("5 records found"));
    }

    void a_reload_replaces_the_result_of_a_search() {
        WindowUnderTest w(&kRoot);
        std::vector<std::string> names;
        for (int i = 0; i < 57; ++i) names.push_back("n" + std::to_string(i));
        make_folder_chain(w.folder.path(), {"tree", std::string(200, 'r')}, names);
        when_dialog_shows([&](QWidget* dialog) {
            QTest::keyClicks(dialog->focusWidget(), QString::fromStdString(w.folder / "tree"));
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        });
        w.window->cmdseldir->click();
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("57 records found"));
        make_file(w.folder / "kestrafinlist.dxb", "\"/1\"\r\n\"/2\"\r\n\"/3\"\r\n");
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.entries(), (std::vector<std::string>{"/1", "/2", "/3"}));
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("3 records found"));
        QCOMPARE(w.window->lvFiles->model()->rowCount(), 3);
    }

    void no_saved_file_says_so_and_changes_nothing() {
        WindowUnderTest w(&kRoot);
        fill(w, {"/kept"});
        w.window->lbllistcount->setText("1 records found");
        auto seen = close_next_message_box();
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QVERIFY(seen->shown);
        QCOMPARE(seen->title, QStringLiteral("File could not be found to load"));
        QCOMPARE(seen->text,
                 QStringLiteral("There is no file to load, please first save the list."));
        QCOMPARE(seen->icon, QMessageBox::Information);
        QCOMPARE(seen->buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(w.entries(), std::vector<std::string>{"/kept"});
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("1 records found"));
    }

    void quotes_line_breaks_and_odd_bytes_round_trip() {
        WindowUnderTest w(&kRoot);
        const std::vector<std::string> texts = {"/say \"hi\"", "/line\nbreak", "/cr\r\nlf",
                                                "/bad \xFF\xFE bytes", ""};
        fill(w, texts);
        w.window->cmdsavelist->click();
        QVERIFY(w.settled());
        fill(w, {});
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QCOMPARE(w.entries(), texts);
    }

    void a_save_that_cannot_be_written_keeps_the_previous_file() {
        WindowUnderTest w(&kRoot);
        const std::string saved = w.folder / "kestrafinlist.dxb";
        make_file(saved, "\"/previous\"\r\n");
        fill(w, {"/new"});
        chmod(saved.c_str(), 0444);
        auto read_only_file = close_next_message_box();
        w.window->cmdsavelist->click();
        QVERIFY(w.settled());
        QVERIFY(read_only_file->shown);
        QCOMPARE(read_only_file->title, QStringLiteral("Kestrafin"));
        QVERIFY(read_only_file->text.contains("kestrafinlist.dxb"));
        QCOMPARE(w.saved_list(), std::string("\"/previous\"\r\n"));

        chmod(saved.c_str(), 0644);
        chmod(w.folder.path().c_str(), 0555);
        {
            AsOrdinaryUser ordinary;
            auto read_only_folder = close_next_message_box();
            w.window->cmdsavelist->click();
            QVERIFY(w.settled());
            QVERIFY(read_only_folder->shown);
            QVERIFY2(read_only_folder->text.contains("Permission denied"),
                     qPrintable(read_only_folder->text));
        }
        chmod(w.folder.path().c_str(), 0700);
        QCOMPARE(w.saved_list(), std::string("\"/previous\"\r\n"));
        QCOMPARE(w.entries(), std::vector<std::string>{"/new"});
    }

    void an_unreadable_saved_file_loses_nothing() {
        WindowUnderTest w(&kRoot);
        const std::string saved = w.folder / "kestrafinlist.dxb";
        make_file(saved, "\"/on disk\"\r\n");
        chmod(saved.c_str(), 0000);
        chmod(w.folder.path().c_str(), 0755);
        fill(w, {"/current"});
        w.window->lbllistcount->setText("1 records found");
        {
            AsOrdinaryUser ordinary;
            auto seen = close_next_message_box();
            w.window->cmdloadlist->click();
            QVERIFY(w.settled());
            QVERIFY(seen->shown);
            QCOMPARE(seen->title, QStringLiteral("Kestrafin"));
            QVERIFY2(seen->text.contains("Permission denied"), qPrintable(seen->text));
        }
        QCOMPARE(w.entries(), std::vector<std::string>{"/current"});
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("1 records found"));
    }
};

QTEST_MAIN(SavedListHandlerTest)
#include "saved_list_handler_test.moc"
