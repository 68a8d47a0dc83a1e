// The Qt window while its logic works: the hourglass, real input dropped and
// never replayed, the Escape key, the dialogs, and closing the window, which
// ends the program.
#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "tests/qt/window_fixture.h"

using namespace kestrafin::testing;

class BusyWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void the_hourglass_shows_and_input_is_dropped_until_the_results_are_in_place() {
        WindowUnderTest w(nullptr, true);
        w.window->tmrwait2->stop();
        int resets = 0;
        connect(w.window->lvFiles->model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
        // Keys that come while the found entries are put in place are dropped too.
        bool pressed_while_filling = false;
        connect(w.window->lvFiles->model(), &QAbstractItemModel::rowsInserted, [&] {
            if (!w.window->busy()) return;
            pressed_while_filling = true;
            for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease})
                QCoreApplication::postEvent(
                    w.window->cmdsavelist, new QKeyEvent(type, Qt::Key_Space, Qt::NoModifier, " "));
        });
        // Looks for a box only as long as this window lives.
        auto message = close_next_message_box(w.window.get());
        w.window->cmdgetfilelist->click();
        QVERIFY(w.window->busy());
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(w.paced.find({"/a", "/b"}));
        press_everything(*w.window);
        QVERIFY(w.window->busy());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(w.paced.end());
        QVERIFY(w.settled());
        // Posted last, the marker is handled after every event that came
        // before it: input kept for later would have been replayed by then.
        bool marker_handled = false;
        QMetaObject::invokeMethod(
            w.window.get(), [&marker_handled] { marker_handled = true; }, Qt::QueuedConnection);
        QVERIFY(QTest::qWaitFor([&] { return marker_handled; }));
        QVERIFY(!w.window->busy());
        QVERIFY(pressed_while_filling);
        QCOMPARE(resets, 1);  // one search, none replayed
        QVERIFY(w.opened->empty());
        QVERIFY(!message->shown);  // "Reload List" would have said there is no file
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(access((w.folder / "kestrafinlist.dxb").c_str(), F_OK), -1);
        QCOMPARE(w.window->lvFiles->model()->rowCount(), 2);
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("2 records found"));
        // Afterwards the window takes input again.
        QTest::keyClick(w.window->cmdsavelist, Qt::Key_Space);
        QVERIFY(w.settled());
        QCOMPARE(w.saved_list(), std::string("\"/a\"\r\n\"/b\"\r\n"));
    }

    void the_escape_key_stops_a_search() {
        WindowUnderTest w(nullptr, true);
        w.window->tmrwait2->stop();
        w.window->cmdgetfilelist->click();
        QVERIFY(w.paced.find({"/a"}));
        QTest::keyClick(w.window->lvFiles, Qt::Key_Escape);
        QVERIFY(w.settled());
        QVERIFY(w.paced.stopped());
        QCOMPARE(w.entries(), std::vector<std::string>{"/a"});
        QCOMPARE(w.window->lbllistcount->text(), QStringLiteral("1 records found"));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void while_searching_stop_and_the_list_take_their_input_and_nothing_else() {
        WindowUnderTest w(nullptr, true);
        w.window->tmrwait2->stop();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        w.window->cmdgetfilelist->click();
        QCOMPARE(w.window->cmdgetfilelist->text(), QStringLiteral("Stop"));
        std::vector<std::string> found;
        for (int i = 0; i < 300; ++i) found.push_back("/f/" + std::to_string(i));
        QVERIFY(w.paced.find(found));
        QAbstractItemView* list = w.window->lvFiles;
        QVERIFY(QTest::qWaitFor([&] { return list->model()->rowCount() == 300; }));
        QScrollBar* down = list->verticalScrollBar();
        QVERIFY(QTest::qWaitFor([&] { return down->maximum() > 0; }));
        // The first key only makes the first row current, as in any list.
        // Keys and clicks come as the user's do: to the window, which hands them on.
        QWindow* window = w.window->windowHandle();
        list->setFocus();
        QTest::keyClick(window, Qt::Key_Home);
        QTest::keyClick(window, Qt::Key_End);
        QCOMPARE(down->value(), down->maximum());
        QTest::keyClick(window, Qt::Key_Home);
        QCOMPARE(down->value(), 0);
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);  // select all: dropped
        QVERIFY(list->selectionModel()->selectedRows().size() <= 1);
        // A click on another button is dropped whole: the focus stays where it was.
        QTest::mouseClick(
            window, Qt::LeftButton, {},
            w.window->cmdsavelist->mapTo(w.window.get(), w.window->cmdsavelist->rect().center()));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list));
        QTest::mouseClick(window, Qt::LeftButton, {},
                          w.window->cmdgetfilelist->mapTo(
                              w.window.get(), w.window->cmdgetfilelist->rect().center()));
        QVERIFY(w.settled());
        QVERIFY(w.paced.stopped());
        QCOMPARE(w.window->cmdgetfilelist->text(), QStringLiteral("Search"));
        QVERIFY(w.window->lblstatus->text().endsWith(QStringLiteral(", stopped")));
    }

    void a_press_on_stop_released_after_the_search_ended_starts_no_other_search() {
        WindowUnderTest w(nullptr, true);
        w.window->tmrwait2->stop();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        w.window->cmdgetfilelist->click();
        QVERIFY(w.paced.find({"/a"}));
        QWindow* window = w.window->windowHandle();
        const QPoint stop = w.window->cmdgetfilelist->mapTo(
            w.window.get(), w.window->cmdgetfilelist->rect().center());
        QTest::mousePress(window, Qt::LeftButton, {}, stop);
        QVERIFY(w.paced.end());
        QVERIFY(w.settled());
        // The hand shakes a little before the button comes up.
        QTest::mouseMove(window, stop + QPoint(1, 1));
        QTest::mouseRelease(window, Qt::LeftButton, {}, stop);
        QVERIFY(!w.window->busy());
        QCOMPARE(w.entries(), std::vector<std::string>{"/a"});
    }

    void ctrl_c_copies_the_selected_paths_as_their_text() {
        WindowUnderTest w;
        w.window->tmrwait2->stop();
        for (const char* text : {"/a/new\nline", "/b", "/c"}) w.items().Add(text);
        w.items().Refresh();
        QAbstractItemView* list = w.window->lvFiles;
        for (const int row : {0, 2})
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select);
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("/a/new\nline\n/c"));
    }

    void ctrl_f_and_f3_anywhere_in_the_window_show_the_rows_that_hold_a_text() {
        WindowUnderTest w;
        w.window->tmrwait2->stop();
        for (const char* text : {"/a", "/hr/b", "/HR/c"}) w.items().Add(text);
        w.items().Refresh();
        when_dialog_shows([](QWidget* dialog) {
            qobject_cast<QInputDialog*>(dialog)->setTextValue(QStringLiteral("hr/"));
            qobject_cast<QInputDialog*>(dialog)->accept();
        });
        QTest::keyClick(w.window->cmdsave, Qt::Key_F, Qt::ControlModifier);
        QAbstractItemView* list = w.window->lvFiles;
        QCOMPARE(list->currentIndex().row(), 1);
        QCOMPARE(w.window->focusWidget(), list);
        QTest::keyClick(list, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(list->currentIndex().row(), 2);
        QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
    }

    void export_asks_for_the_file_in_the_platforms_dialog() {
        WindowUnderTest w;
        w.window->tmrwait2->stop();
        w.items().Add("/a");
        w.items().Refresh();
        TempFolder folder;
        const std::string file = folder / "list.csv";
        QString offered;
        when_dialog_shows([&](QWidget* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            offered = files->selectedFiles().value(0);
            files->selectFile(QString::fromStdString(file));
            static_cast<QDialog*>(files)->accept();  // as OK does
        });
        w.window->logic().export_list();
        QVERIFY(w.settled());
        QCOMPARE(offered, QDir::home().filePath(QStringLiteral("kestrafin-list.csv")));
        QVERIFY(read_bytes(file).ends_with("\r\n/a,0,2,file,,\r\n"));
    }

    void a_click_on_the_status_line_lists_the_folders_not_read() {
        TempFolder tree;
        make_link("/proc", tree / "kernel");
        const std::string root = tree.path();
        WindowUnderTest w(&root);
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        QString listed;
        when_dialog_shows([&](QWidget* dialog) {
            listed = dialog->findChild<QPlainTextEdit*>()->toPlainText();
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == QStringLiteral("Copy all")) button->click();
        });
        QTest::mouseClick(w.window->lblstatus, Qt::LeftButton);
        QVERIFY(w.settled());
        QVERIFY2(listed.contains(QStringLiteral("kernel: it lies on a kernel file system")),
                 qPrintable(listed));
        QCOMPARE(QGuiApplication::clipboard()->text(), listed);
    }

    void a_folder_dropped_on_the_window_becomes_the_root() {
        WindowUnderTest w;
        w.window->tmrwait2->stop();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/srv/dropped"))});
        const QPoint at = w.window->lvFiles->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.window.get(), &drop);
        QCOMPARE(w.window->txtFileroot->text(), QStringLiteral("/srv/dropped"));
    }

    void the_lists_menu_offers_the_logics_items_and_does_what_is_chosen() {
        WindowUnderTest w;
        w.window->tmrwait2->stop();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        for (const char* text : {"/a/new\nline", "/b/c.txt"}) w.items().Add(text);
        w.items().Refresh();
        QAbstractItemView* list = w.window->lvFiles;
        const QPoint second = list->visualRect(list->model()->index(1, 0)).center();
        // The last: each path ended by a NUL, as the X11 clipboard keeps them.
        const std::pair<QString, QString> choices[] = {
            {QStringLiteral("Copy folder path"), QStringLiteral("/b")},
            {QStringLiteral("Copy all paths, NUL-separated"),
             QString::fromUtf8("/a/new\nline\0/b/c.txt\0", 21)}};
        for (const auto& [chosen, copied] : choices) {
            QStringList captions;
            auto* poll = new QTimer(w.window.get());
            poll->setInterval(5);
            connect(poll, &QTimer::timeout, [&, poll] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (menu == nullptr) return;
                poll->stop();
                poll->deleteLater();
                for (QAction* action : menu->actions()) {
                    captions << action->text();
                    if (action->text() == chosen) menu->setActiveAction(action);
                }
                QTest::keyClick(menu, Qt::Key_Return);
            });
            poll->start();
            emit list->customContextMenuRequested(second);
            QVERIFY(w.settled());
            QCOMPARE(
                captions,
                (QStringList{"Copy", "Copy folder path", "Copy all paths", "Copy all paths, quoted",
                             "Copy all paths, NUL-separated", "Open containing folder",
                             "Export as CSV...", "Export selection as CSV...",
                             "Folders not read...", "Find...", "Find next"}));
            QCOMPARE(QGuiApplication::clipboard()->text(), copied);
        }
    }

    void the_dialogs_show_the_texts_and_answers_of_the_logic() {
        const std::string root = "/stored";
        WindowUnderTest w(&root);
        auto seen = close_next_message_box();
        w.window->cmdloadlist->click();
        QVERIFY(w.settled());
        QTRY_VERIFY_WITH_TIMEOUT(seen->shown, 5000);
        QCOMPARE(seen->title, QStringLiteral("File could not be found to load"));
        QCOMPARE(seen->text,
                 QStringLiteral("There is no file to load, please first save the list."));
        QCOMPARE(seen->icon, QMessageBox::Information);
        QCOMPARE(seen->buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        // Cancelled, then entered twice: the second time offers the first.
        const std::pair<bool, QStringList> prompts[] = {
            {false, {}}, {true, {}}, {true, {QStringLiteral("/typed root")}}};
        for (const auto& [confirm, expected_offered] : prompts) {
            QString title, label, initial;
            QStringList offered;
            int width = 0;
            when_dialog_shows([&](QWidget* dialog) {
                auto* box = dialog->findChild<QComboBox*>();
                title = dialog->windowTitle();
                label = dialog->findChild<QLabel*>()->text();
                initial = box->currentText();
                for (int item = 0; item < box->count(); ++item) offered.append(box->itemText(item));
                width = box->width();
                QTest::keyClicks(dialog->focusWidget(), QStringLiteral("/typed root"));
                if (confirm)
                    static_cast<QDialog*>(dialog)->accept();
                else
                    static_cast<QDialog*>(dialog)->reject();
            });
            w.window->cmdseldir->click();
            QCOMPARE(title, QStringLiteral("Kestrafin"));
            QCOMPARE(label, QStringLiteral("Please enter the full path"));
            QVERIFY(initial.isEmpty());
            // A share's path stays in sight while it is typed, as on Windows.
            QVERIFY2(width >= 300, qPrintable(QString::number(width)));
            QCOMPARE(w.window->txtFileroot->text(),
                     confirm ? QStringLiteral("/typed root") : QStringLiteral("/stored"));
            QCOMPARE(offered, expected_offered);
        }
        QCOMPARE(w.window->logic().root_text(), std::string("/typed root"));
    }

    void the_status_line_fits_its_label_and_its_tip_holds_it_whole() {
        TempFolder folder;
        const std::string program = make_folder_chain(
            folder.path(), {"a program folder of many words", std::string(60, 'p')});
        make_file(program + "/kestrafin.ini", "[PATH]\r\nFULLPATH=/unused\r\n");
        make_file(program + "/kestrafinlist.dxb", "\"/a\"\r\n");
        kestrafin::qt::frmMain window(program);
        window.Form_Load();
        window.show();
        window.cmdloadlist->click();
        QVERIFY(QTest::qWaitFor([&] { return !window.busy(); }));
        const QLabel* line = window.lblstatus;
        QVERIFY2(line->text().startsWith(QStringLiteral("Saved 2")), qPrintable(line->text()));
        QVERIFY(QFontMetricsF(line->font()).horizontalAdvance(line->text()) <=
                line->contentsRect().width());
        // Read whole by assistive technology.
        QVERIFY(QAccessible::queryAccessibleInterface(window.lblstatus)
                    ->text(QAccessible::Value)
                    .startsWith(QStringLiteral("Reloaded from ")));
        // Whole, in lines short enough to show.
        QVERIFY(line->toolTip().remove(u'\n').startsWith(QStringLiteral("Reloaded from ") +
                                                         QString::fromStdString(program) +
                                                         "/kestrafinlist.dxb, saved 2"));
    }

    void closing_during_a_search_ends_the_program() {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KESTRAFIN_CLOSE_CHILD), {QStringLiteral("search")});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForFinished(30000), "the program did not end after its window closed");
        const QString said = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(said.contains(QStringLiteral("closed while searching")), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("ended")), qPrintable(said));
    }

    void closing_during_a_save_ends_the_program_and_leaves_a_whole_file() {
        TempFolder folder;
        make_file(folder / "kestrafin.ini", "[PATH]\r\nFULLPATH=/unused\r\n");
        const std::string previous = "\"/previous\"\r\n";
        make_file(folder / "kestrafinlist.dxb", previous);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KESTRAFIN_CLOSE_CHILD),
                    {QStringLiteral("save"), QString::fromStdString(folder.path())});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForFinished(60000), "the program did not end after its window closed");
        const QString said = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(said.contains(QStringLiteral("closed while saving")), qPrintable(said));
        // The save was dropped or finished whole; nothing half-written is left.
        const std::string saved = read_bytes(folder / "kestrafinlist.dxb");
        QVERIFY2(saved == previous || (saved.size() > 40'000'000 &&
                                       saved.ends_with("\"/srv/share/new/1999999\"\r\n")),
                 qPrintable(QString::number(saved.size())));
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        QCOMPARE(names, (std::vector<std::string>{"kestrafin.ini", "kestrafinlist.dxb"}));
    }
};

QTEST_MAIN(BusyWindowTest)
#include "busy_window_test.moc"
