// The main window as laid out, its focus order, its keys and its links.
#include <QAccessible>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include "tests/qt/window_fixture.h"
#include "window/count_label.h"
#include "window/one_line_text.h"
#include "window/shown_row.h"

using namespace kestrafin::testing;

namespace {
const std::string kRoot = "/nonexistent-root";
}

class WindowLayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void window_has_its_caption_size_and_colour() {
        WindowUnderTest w(&kRoot);
        QCOMPARE(w.window->windowTitle(), QStringLiteral("Kestrafin v1.0"));
        QCOMPARE(w.window->size(), QSize(1018, 656));
        QCOMPARE(w.window->palette().color(QPalette::Window), QColor(128, 255, 255));
        QCOMPARE(w.window->lvFiles->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("FILE PATHS AND NAMES"));
        QCOMPARE(w.window->lvFiles->model()->rowCount(), 0);
        QVERIFY(w.window->lbllistcount->text().isEmpty());
        const QList<QSize> sizes = w.window->windowIcon().availableSizes();
        for (const int size : {16, 24, 32, 48, 64, 72, 96, 128})
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        const QImage logo = w.window->Image1->pixmap().toImage();
        QCOMPARE(logo.size(), QSize(170, 170));
        QCOMPARE(qAlpha(logo.pixel(0, 0)), 0);  // the corner is transparent
    }

    void controls_stand_where_the_layout_puts_them_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("family");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QColor>("colour");
        const QColor none;
        QTest::newRow("Label1") << "Label1" << QRect(360, 8, 306, 29) << "KESTRAFIN"
                                << "MS Sans Serif" << true << QColor(192, 0, 0);
        QTest::newRow("lvFiles") << "lvFiles" << QRect(8, 48, 1003, 427) << ""
                                 << "MS Sans Serif" << true << none;
        QTest::newRow("lblprocessrootdir")
            << "lblprocessrootdir" << QRect(16, 480, 136, 13) << "Process Root Directory:"
            << "MS Sans Serif" << true << QColor(192, 0, 0);
        QTest::newRow("txtFileroot")
            << "txtFileroot" << QRect(160, 480, 153, 19) << "/nonexistent-root"
            << "" << false << none;
        QTest::newRow("lbllistcount") << "lbllistcount" << QRect(464, 480, 145, 17) << ""
                                      << "MS Sans Serif" << false << QColor(255, 0, 0);
        QTest::newRow("Image1") << "Image1" << QRect(840, 480, 170, 170) << ""
                                << "" << false << none;
        QTest::newRow("cmdseldir") << "cmdseldir" << QRect(160, 504, 73, 17) << "Change"
                                   << "" << false << none;
        QTest::newRow("cmdsave") << "cmdsave" << QRect(240, 504, 73, 17) << "Save path"
                                 << "" << false << none;
        QTest::newRow("cmdsavelist") << "cmdsavelist" << QRect(440, 504, 73, 17) << "Save List"
                                     << "" << false << none;
        QTest::newRow("cmdloadlist") << "cmdloadlist" << QRect(528, 504, 73, 17) << "Reload List"
                                     << "" << false << none;
        QTest::newRow("cmdgetfilelist") << "cmdgetfilelist" << QRect(448, 544, 145, 41) << "Search"
                                        << "MS Sans Serif" << true << none;
        QTest::newRow("Label2") << "Label2" << QRect(424, 608, 185, 13)
                                << "Coded & Designed By The Kestrafin Team"
                                << "Times New Roman" << true << QColor(128, 0, 0);
        QTest::newRow("lblorvane") << "lblorvane" << QRect(472, 632, 97, 13) << "kestrafin.example"
                                   << "Times New Roman" << true << QColor(128, 0, 0);
    }

    void controls_stand_where_the_layout_puts_them() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, family);
        QFETCH(bool, bold);
        QFETCH(QColor, colour);
        WindowUnderTest w(&kRoot);
        const std::map<QString, QWidget*> controls = {
            {"Label1", w.window->Label1},
            {"lvFiles", w.window->lvFiles},
            {"lblprocessrootdir", w.window->lblprocessrootdir},
            {"txtFileroot", w.window->txtFileroot},
            {"lbllistcount", w.window->lbllistcount},
            {"Image1", w.window->Image1},
            {"cmdseldir", w.window->cmdseldir},
            {"cmdsave", w.window->cmdsave},
            {"cmdsavelist", w.window->cmdsavelist},
            {"cmdloadlist", w.window->cmdloadlist},
            {"cmdgetfilelist", w.window->cmdgetfilelist},
            {"Label2", w.window->Label2},
            {"lblorvane", w.window->lblorvane}};
        QWidget* control = controls.at(name);
        QCOMPARE(control->geometry(), geometry);
        QString shown;
        if (auto* label = qobject_cast<QLabel*>(control)) shown = label->text();
        if (auto* button = qobject_cast<QPushButton*>(control)) shown = button->text();
        if (auto* box = qobject_cast<QLineEdit*>(control)) shown = box->text();
        QCOMPARE(shown, text);
        if (!family.isEmpty()) QCOMPARE(control->font().family(), family);
        QCOMPARE(control->font().bold(), bold);
        if (colour.isValid()) QCOMPARE(control->palette().color(QPalette::WindowText), colour);
        if (auto* label = qobject_cast<QLabel*>(control); label && !text.isEmpty())
            QVERIFY(QFontMetrics(label->font()).horizontalAdvance(text) <= geometry.width());
    }

    void fonts_have_their_sizes() {
        WindowUnderTest w(&kRoot);
        QCOMPARE(w.window->lvFiles->font().pointSizeF(), 8.25);
        // At most its design size: smaller where the host's face is wider.
        QVERIFY(w.window->lbllistcount->font().pointSizeF() <= 9.75);
        QCOMPARE(w.window->cmdgetfilelist->font().pointSizeF(), 12.0);
        QVERIFY(w.window->lbllistcount->autoFillBackground());
        QCOMPARE(w.window->lbllistcount->palette().color(QPalette::Window), QColor(128, 255, 255));
        QCOMPARE(w.window->txtFileroot->palette().color(QPalette::Base), QColor(Qt::black));
        QVERIFY(!w.window->txtFileroot->isEnabled());
        QVERIFY(!w.window->tmrwait2->isActive());
        QCOMPARE(w.window->tmrwait2->interval(), 500);
    }

    void long_entries_widen_the_column_and_scroll_to_their_end() {
        WindowUnderTest w(&kRoot);
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        auto* view = w.window->lvFiles;
        QScrollBar* across = view->horizontalScrollBar();
        for (int i = 0; i < 50; ++i) w.items().Add("/short/" + std::to_string(i));
        w.items().Refresh();
        QCoreApplication::processEvents();
        QCOMPARE(across->maximum(), 0);
        QCOMPARE(view->header()->sectionSize(0), view->viewport()->width());

        const std::string long_text = "/srv/" + std::string(300, 'W') + "/ünïcødé 資料/end.dat";
        const QString shown = QString::fromStdString(long_text);
        w.items().Add(long_text);
        w.items().Add("/short/after");
        w.items().Refresh();
        QCoreApplication::processEvents();
        const int text_width = QFontMetrics(view->font()).horizontalAdvance(shown);
        QVERIFY2(
            view->header()->sectionSize(0) >= text_width,
            qPrintable(QString("%1 < %2").arg(view->header()->sectionSize(0)).arg(text_width)));
        QVERIFY(across->maximum() > 0);
        QVERIFY(across->isVisible());
        const QModelIndex row = view->model()->index(50, 0);
        // The tool tip holds the whole text, in lines short enough to show.
        QString tip = row.data(Qt::ToolTipRole).toString();
        for (const QString& line : tip.split(u'\n')) QVERIFY(line.size() <= 120);
        QVERIFY(tip.count(u'\n') >= 2);
        QCOMPARE(tip.remove(u'\n'), shown);
        QCOMPARE(row.data(Qt::DisplayRole).toString(), shown);

        // A keyboard user scrolls to the end of the row with the arrow keys.
        view->setFocus();
        view->setCurrentIndex(row);
        for (int i = 0; i < 2000 && across->value() < across->maximum(); ++i)
            QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(across->value(), across->maximum());
        QVERIFY(view->visualRect(row).right() <= view->viewport()->width() + 8);
        QTest::keyClick(view, Qt::Key_Left);
        QVERIFY(across->value() < across->maximum());

        // An emptied list needs no scroll bar.
        w.items().Clear();
        QCoreApplication::processEvents();
        QCOMPARE(across->maximum(), 0);
        QCOMPARE(view->header()->sectionSize(0), view->viewport()->width());
    }

    void rows_each_wider_than_the_last_are_laid_out_once_per_batch() {
        // A deep walk finds every entry wider than the one before; laying each
        // out in full kept the window busy long after Escape on deep trees.
        WindowUnderTest w(&kRoot);
        auto* view = w.window->lvFiles;
        std::string text = "/deep";
        for (int batch = 0; batch < 3; ++batch) {
            const int layouts_before = view->text_layouts();
            for (int i = 0; i < 200; ++i) {
                text += "/folder-" + std::to_string(i);
                w.items().Add(text);
            }
            w.items().Refresh();
            QCOMPARE(view->text_layouts() - layouts_before, 1);
            const int text_width =
                QFontMetrics(view->font()).horizontalAdvance(QString::fromStdString(text));
            QVERIFY2(view->widest_entry() >= text_width,
                     qPrintable(QString("%1 < %2").arg(view->widest_entry()).arg(text_width)));
            QVERIFY(view->header()->sectionSize(0) >= text_width);
        }
    }

    void a_row_shows_its_entry_on_one_line() {
        // The list shows each entry as the status line does (one_line_text),
        // stand-ins included, and its column is wide enough for that text.
        WindowUnderTest w(&kRoot);
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        auto* view = w.window->lvFiles;
        const std::string text =
            "/srv/first\nsecond\xe2\x80\xa8third\xe2\x80\x8b"
            "fourth/invoice\xe2\x80\xae"
            "fdp.exe\x1b[2J\xef\xbb\xbf";
        w.items().Add(text);
        w.items().Refresh();
        QCoreApplication::processEvents();
        const QModelIndex row = view->model()->index(0, 0);
        const QString shown = row.data(Qt::DisplayRole).toString();
        QCOMPARE(shown, QString::fromStdString(kestrafin::window::one_line_text(text)));
        QCOMPARE(row.data(Qt::ToolTipRole).toString(), shown);
        QVERIFY(view->header()->sectionSize(0) >=
                QFontMetrics(view->font()).horizontalAdvance(shown));
        // What is saved stays byte for byte what was found.
        QCOMPARE(std::string(w.items().Text(1)), text);
    }

    void a_row_too_long_to_show_is_drawn_measured_and_tipped_from_its_ends() {
        WindowUnderTest w(&kRoot);
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        auto* view = w.window->lvFiles;
        std::string text = "/srv";
        while (text.size() < 8'000'000) text += "/a folder of its own, one of very many";
        text += "/end.dat";
        const int layouts_before = view->text_layouts();
        w.items().Add(text);
        w.items().Refresh();
        QCoreApplication::processEvents();
        const QModelIndex row = view->model()->index(0, 0);
        const QString shown = row.data(Qt::DisplayRole).toString();
        QCOMPARE(shown, QString::fromStdString(kestrafin::window::shown_row_text(text, '/')));
        QString tip = row.data(Qt::ToolTipRole).toString();
        QCOMPARE(tip.remove(u'\n'), QString::fromStdString(kestrafin::window::shown_row_text(
                                        text, '/', kestrafin::window::kLongestTip)));
        // The column holds what shows, laid out once, and not the whole row;
        // scrolled to its end, the list shows the row's end.
        QCOMPARE(view->text_layouts() - layouts_before, 1);
        const int shown_width = QFontMetrics(view->font()).horizontalAdvance(shown);
        QVERIFY(view->widest_entry() >= shown_width);
        QVERIFY2(
            view->header()->sectionSize(0) < shown_width + 100,
            qPrintable(
                QString("%1 against %2").arg(view->header()->sectionSize(0)).arg(shown_width)));
        QCOMPARE(std::string(w.items().Text(1)), text);
    }

    void the_count_label_holds_every_count_data() {
        QTest::addColumn<qulonglong>("count");
        QTest::newRow("1") << qulonglong{1};
        QTest::newRow("1,000,000") << qulonglong{1'000'000};
        QTest::newRow("2,147,483,647") << qulonglong{2'147'483'647};
    }

    void the_count_label_holds_every_count() {
        QFETCH(qulonglong, count);
        WindowUnderTest w(&kRoot);
        QLabel* label = w.window->lbllistcount;
        label->setText(QString::fromStdString(kestrafin::window::count_label_text(count)));
        QVERIFY(label->text().endsWith(QStringLiteral(" records found")));
        const int width = QFontMetrics(label->font()).horizontalAdvance(label->text());
        QVERIFY2(width <= label->contentsRect().width(),
                 qPrintable(QString("%1 > %2").arg(width).arg(label->contentsRect().width())));
        QCOMPARE(label->geometry(), QRect(464, 480, 145, 17));
    }

    void tab_visits_the_six_controls_in_order_and_wraps() {
        WindowUnderTest w(&kRoot);
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QCOMPARE(QApplication::focusWidget(), w.window->cmdgetfilelist);
        const std::vector<QWidget*> order = {w.window->lvFiles,     w.window->cmdsave,
                                             w.window->cmdseldir,   w.window->cmdsavelist,
                                             w.window->cmdloadlist, w.window->cmdgetfilelist};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), w.window->cmdloadlist);
        // The root box never takes the focus, by click or otherwise.
        QTest::mouseClick(w.window->txtFileroot, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w.window->cmdloadlist);
    }

    void enter_presses_search_unless_a_button_has_the_focus() {
        WindowUnderTest w(&kRoot);
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        const std::string long_folder =
            make_folder_chain(w.folder.path(), {std::string(200, 'e')}, {"f"});
        w.window->txtFileroot->setText({});  // the text shown; the search uses the stored root
        w.window->cmdseldir->setFocus();
        // Put a known root in place through the real prompt.
        when_dialog_shows([&](QWidget* dialog) {
            QTest::keyClicks(dialog->focusWidget(), QString::fromStdString(w.folder.path()));
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        });
        QTest::keyClick(w.window->cmdseldir, Qt::Key_Return);
        QCOMPARE(w.window->logic().root_text(), w.folder.path());

        w.window->cmdgetfilelist->setFocus();
        QTest::keyClick(w.window->cmdgetfilelist, Qt::Key_Return);
        QVERIFY(w.settled());
        QCOMPARE(w.entries(), std::vector<std::string>{long_folder + "/f"});

        w.items().Clear();
        w.window->lvFiles->setFocus();
        QTest::keyClick(w.window->lvFiles, Qt::Key_Enter);
        QVERIFY(w.settled());
        QCOMPARE(w.items().Count(), std::size_t{1});

        w.window->cmdsavelist->setFocus();
        QTest::keyClick(w.window->cmdsavelist, Qt::Key_Return);
        QVERIFY(w.settled());
        QCOMPARE(w.saved_list(), "\"" + long_folder + "/f\"\r\n");
    }

    void logo_and_link_open_the_home_page() {
        WindowUnderTest w(&kRoot);
        QTest::mouseClick(w.window->Image1, Qt::LeftButton);
        QTest::mouseClick(w.window->lblorvane, Qt::LeftButton);
        // A double-click as the platform delivers it: press, release, double-click, release.
        QTest::mouseClick(w.window->lblorvane, Qt::LeftButton);
        const QPoint centre = w.window->lblorvane->rect().center();
        QMouseEvent second(QEvent::MouseButtonDblClick, centre,
                           w.window->lblorvane->mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                           Qt::NoModifier);
        QApplication::sendEvent(w.window->lblorvane, &second);
        QTest::mouseRelease(w.window->lblorvane, Qt::LeftButton);
        QCOMPARE(*w.opened, std::vector<std::string>(3, "http://kestrafin.example/"));
        QCOMPARE(w.window->lblorvane->toolTip(), QStringLiteral("Click here to visit"));
        // Other labels react to nothing.
        for (QLabel* label : {w.window->Label1, w.window->Label2, w.window->lblprocessrootdir,
                              w.window->lbllistcount})
            QTest::mouseClick(label, Qt::LeftButton);
        QCOMPARE(w.opened->size(), std::size_t{3});
        QVERIFY(w.window->lbllistcount->text().isEmpty());
    }

    void a_large_system_font_grows_the_layout_so_that_captions_fit() {
        const QFont before = QApplication::font();
        QFont large = before;
        large.setPointSizeF(16);
        QApplication::setFont(large);
        WindowUnderTest w(&kRoot);
        QApplication::setFont(before);
        for (QPushButton* button : {w.window->cmdseldir, w.window->cmdsave, w.window->cmdsavelist,
                                    w.window->cmdloadlist, w.window->cmdgetfilelist})
            QVERIFY2(
                QFontMetrics(button->font()).horizontalAdvance(button->text()) <= button->width(),
                qPrintable(button->text()));
        QVERIFY(w.window->layout_scale().horizontal >= 1);
    }

    void assistive_technology_finds_a_name_for_every_control() {
        WindowUnderTest w(&kRoot);
        for (QWidget* control : std::initializer_list<QWidget*>{
                 w.window->txtFileroot, w.window->lvFiles, w.window->Image1, w.window->lblorvane,
                 w.window->lblstatus}) {
            QAccessibleInterface* seen = QAccessible::queryAccessibleInterface(control);
            QVERIFY(seen != nullptr);
            QVERIFY2(!seen->text(QAccessible::Name).isEmpty(), control->metaObject()->className());
            QVERIFY(!seen->text(QAccessible::Description).isEmpty());
        }
        for (const char* text : {"/a", "/b", "/c"}) w.items().Add(text);
        w.items().Refresh();
        QVERIFY(QAccessible::queryAccessibleInterface(w.window->lvFiles)
                    ->text(QAccessible::Description)
                    .contains(QStringLiteral("3 entries")));
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

    void a_message_shows_whole_however_long_its_path_data() {
        QTest::addColumn<QString>("root");
        const auto path = [](const QString& name, int names) {
            QString path = QStringLiteral("/nonexistent-root");
            for (int n = 0; n < names; ++n) path += u'/' + name;
            return path;
        };
        QTest::newRow("names of 250") << path(QString(250, u'n'), 12);
        QTest::newRow("names of 8") << path(QStringLiteral("abcdefgh"), 333);
        QTest::newRow("marks and pairs")
            << path(QStringLiteral("m\u0301").repeated(150) + QStringLiteral("\U0001F600"), 2);
        QTest::newRow("short") << path(QString(), 0);
        QTest::newRow("markup") << QStringLiteral("/nonexistent/<b>bold</b>/a&lt;b");
    }

    void a_message_shows_whole_however_long_its_path() {
        // A message box breaks lines between words only: a long root ran
        // past its edge and hid the reason that follows it.
        QFETCH(QString, root);
        const std::string stored = root.toStdString();
        WindowUnderTest w(&stored);
        const QRect screen = w.window->screen()->availableGeometry();
        QString shown, read, copied;
        QRect room, needed, frame;
        when_dialog_shows([&](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            if (box == nullptr) return;
            if (QTest::qWaitForWindowExposed(box)) {
                shown = box->text();
                auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
                room = label->contentsRect();
                needed = label->fontMetrics().boundingRect(
                    room, static_cast<int>(label->alignment()) | Qt::TextWordWrap, label->text());
                frame = box->frameGeometry();
                // A path is no markup; a copied path holds none of the breaks.
                read = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
                label->setSelection(0, static_cast<int>(shown.size()));
                QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
                copied = QGuiApplication::clipboard()->text();
            }
            box->accept();
        });
        w.window->cmdgetfilelist->click();
        QVERIFY(w.settled());
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 5000);
        QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
                 qPrintable(QStringLiteral("%1x%2 in %3x%4")
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(room.width())
                                .arg(room.height())));
        QVERIFY(screen.contains(frame));
        // Breaks are invisible and never inside a character.
        for (qsizetype at = 0; at + 1 < shown.size(); ++at)
            if (shown[at] == QChar(0x200B))
                QVERIFY(!shown[at + 1].isLowSurrogate() && !shown[at + 1].isMark());
        const QString message =
            QStringLiteral("The folder \"%1\" cannot be searched: No such file or directory.")
                .arg(root);
        QCOMPARE(read, shown);
        QCOMPARE(copied, message);
        QCOMPARE(shown.remove(QChar(0x200B)), message);
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
