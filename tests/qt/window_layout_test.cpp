// The main window as laid out, its focus order, its keys and its links.
#include <QAccessible>
#include <QClipboard>
#include <QGlyphRun>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextLayout>
#include <QToolTip>

#include "tests/qt/window_fixture.h"
#include "window/count_label.h"
#include "window/one_line_text.h"
#include "window/row_limits.h"
#include "window/shown_row.h"
#include "window/window_design.h"

using namespace kestrafin::testing;
namespace design = kestrafin::window::design;

namespace {
const std::string kRoot = "/nonexistent-root";

QColor colour_of(design::Rgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}
}  // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void window_has_its_caption_size_and_colour() {
        WindowUnderTest w(&kRoot);
        const kestrafin::window::LayoutScale& scale = w.window->layout_scale();
        QCOMPARE(w.window->windowTitle().toStdString(), design::kWindowTitle);
        QCOMPARE(w.window->size(), QSize(scale.across(design::kClientTwips.width),
                                         scale.down(design::kClientTwips.height)));
        QCOMPARE(w.window->palette().color(QPalette::Window), colour_of(design::kWindowColour));
        QCOMPARE(w.window->lvFiles->model()->headerData(0, Qt::Horizontal).toString().toStdString(),
                 design::kColumnHeading);
        QCOMPARE(w.window->lvFiles->model()->rowCount(), 0);
        QVERIFY(w.window->lbllistcount->text().isEmpty());
        const QList<QSize> sizes = w.window->windowIcon().availableSizes();
        for (const int size : {16, 24, 32, 48, 64, 72, 96, 128})
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        const QImage logo = w.window->Image1->pixmap().toImage();
        QCOMPARE(logo.size(), QSize(design::kLogoPixels, design::kLogoPixels));
        QCOMPARE(qAlpha(logo.pixel(0, 0)), 0);  // the corner is transparent
        QVERIFY(w.window->lbllistcount->autoFillBackground());
        QCOMPARE(w.window->lbllistcount->palette().color(QPalette::Window),
                 colour_of(design::kWindowColour));
        QCOMPARE(w.window->txtFileroot->palette().color(QPalette::Disabled, QPalette::Base),
                 colour_of(design::kRootBoxBackground));
        QVERIFY(!w.window->txtFileroot->isEnabled());
    }

    void each_control_stands_as_the_design_puts_it() {
        // The face's wiring of the design: the design itself is tested with
        // the window's core.
        WindowUnderTest w(&kRoot);
        const kestrafin::window::LayoutScale& scale = w.window->layout_scale();
        const std::pair<QWidget*, const design::Control*> controls[] = {
            {w.window->Label1, &design::Label1},
            {w.window->lvFiles, &design::lvFiles},
            {w.window->lblprocessrootdir, &design::lblprocessrootdir},
            {w.window->txtFileroot, &design::txtFileroot},
            {w.window->lbllistcount, &design::lbllistcount},
            {w.window->Image1, &design::Image1},
            {w.window->cmdseldir, &design::cmdseldir},
            {w.window->cmdsave, &design::cmdsave},
            {w.window->cmdsavelist, &design::cmdsavelist},
            {w.window->cmdloadlist, &design::cmdloadlist},
            {w.window->cmdgetfilelist, &design::cmdgetfilelist},
            {w.window->lblstatus, &design::lblstatus},
            {w.window->Label2, &design::Label2},
            {w.window->lblorvane, &design::lblorvane}};
        for (const auto& [control, designed] : controls) {
            const char* name = control->metaObject()->className();
            const design::Twips& at = designed->place;
            const kestrafin::window::PixelRect placed =
                scale.rect(at.left, at.top, at.width, at.height);
            QCOMPARE(control->geometry(),
                     QRect(placed.left, placed.top, placed.width, placed.height));
            QString shown;
            if (auto* label = qobject_cast<QLabel*>(control)) shown = label->text();
            if (auto* button = qobject_cast<QPushButton*>(control)) shown = button->text();
            if (control != w.window->txtFileroot)
                QCOMPARE(shown.toStdString(), std::string(designed->caption));
            const design::Font& font = designed->font;
            if (!font.family.empty()) {
                QCOMPARE(control->font().family().toStdString(), std::string(font.family));
                QCOMPARE(control->font().bold(), font.bold);
                const double points = control->font().pointSizeF();
                QVERIFY2(designed->shrinks_to_fit ? points <= font.points * scale.fixed
                                                  : points == font.points * scale.fixed,
                         name);
            }
            if (designed->text_colour && control != w.window->txtFileroot)
                QCOMPARE(control->palette().color(QPalette::WindowText),
                         colour_of(*designed->text_colour));
            if (designed->shrinks_to_fit) {
                const QString text = QString::fromStdString(design::fitted_text(*designed));
                QVERIFY2(QFontMetrics(control->font()).horizontalAdvance(text) <= control->width(),
                         name);
            }
            QAccessibleInterface* read = QAccessible::queryAccessibleInterface(control);
            // Where the control's text is what it tells, the text follows.
            if (!designed->accessible_name.empty())
                QCOMPARE(read->text(QAccessible::Name)
                             .toStdString()
                             .substr(0, designed->accessible_name.size()),
                         std::string(designed->accessible_name));
            if (!designed->accessible_description.empty())
                QCOMPARE(read->text(QAccessible::Description).toStdString(),
                         std::string(designed->accessible_description));
            if (!designed->tip.empty())
                QCOMPARE(control->toolTip().toStdString(), std::string(designed->tip));
        }
        QCOMPARE(w.window->txtFileroot->palette().color(QPalette::Active, QPalette::Text),
                 colour_of(design::kRootBoxText));
    }

    void assistive_technology_reads_the_count_and_the_status_with_their_texts() {
        const std::string stored = "/srv/share";
        WindowUnderTest w(&stored, true);
        w.window->tmrwait2->stop();
        w.window->cmdgetfilelist->click();
        QVERIFY(w.paced.find({"/a"}));
        QVERIFY(w.paced.end());
        QVERIFY(w.settled());
        for (QLabel* label : {w.window->lbllistcount, static_cast<QLabel*>(w.window->lblstatus)}) {
            QAccessibleInterface* read = QAccessible::queryAccessibleInterface(label);
            QVERIFY(!label->text().isEmpty());
            QCOMPARE(read->text(QAccessible::Value), label->text());
            QVERIFY2(read->text(QAccessible::Name).endsWith(QStringLiteral(": ") + label->text()),
                     qPrintable(read->text(QAccessible::Name)));
            QVERIFY(read->state().readOnly);
        }
        QCOMPARE(
            QAccessible::queryAccessibleInterface(w.window->lbllistcount)->text(QAccessible::Name),
            QStringLiteral("Record count: 1 records found"));
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(w.window->txtFileroot);
        QVERIFY(root->state().readOnly);
        QVERIFY(!root->state().editable);
        QCOMPARE(root->text(QAccessible::Name), QStringLiteral("Root folder: /srv/share"));
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
        // The tool tip holds the whole text, in lines short enough to show,
        // and below them its lengths.
        const QString whole_tip = row.data(Qt::ToolTipRole).toString();
        QVERIFY(whole_tip.endsWith(
            QString::fromStdString("\n\n" + kestrafin::window::row_limits_text(long_text, '/'))));
        QString tip = whole_tip.left(whole_tip.indexOf(QStringLiteral("\n\n")));
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
        QVERIFY(row.data(Qt::ToolTipRole).toString().startsWith(shown + QStringLiteral("\n\n")));
        QVERIFY(view->header()->sectionSize(0) >=
                QFontMetrics(view->font()).horizontalAdvance(shown));
        // What is saved stays byte for byte what was found.
        QCOMPARE(std::string(w.items().Text(1)), text);
    }

    void a_row_is_taller_than_the_ink_of_a_name_in_any_script() {
        // Drawn in fallback fonts that reach lower than the list's own, the
        // underscores of an Arabic and Hebrew name lay on the row's last line.
        WindowUnderTest w(&kRoot);
        auto* view = w.window->lvFiles;
        const QString name = QString::fromUtf8(
            "/srv/"
            "mixed_\xd8\xb9\xd8\xb1\xd8\xa8\xd9\x8a_English_"
            "\xd7\xa2\xd7\x91\xd7\xa8\xd7\x99\xd7\xaa.txt");
        w.items().Add(name.toStdString());
        w.items().Refresh();
        QCoreApplication::processEvents();
        QTextLayout layout(name, view->font());
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        QRectF ink(0, 0, 1, line.height());
        for (const QGlyphRun& run : layout.glyphRuns()) ink |= run.boundingRect();
        const int row = view->visualRect(view->model()->index(0, 0)).height();
        QVERIFY2(row >= std::ceil(ink.height()) + 4,
                 qPrintable(QString("%1 < %2 + 4").arg(row).arg(ink.height())));
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
        tip.truncate(tip.indexOf(QStringLiteral("\n\n")));
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

    void the_lists_description_follows_its_rows() {
        WindowUnderTest w(&kRoot);
        for (const char* text : {"/a", "/b", "/c"}) w.items().Add(text);
        w.items().Refresh();
        QCOMPARE(QAccessible::queryAccessibleInterface(w.window->lvFiles)
                     ->text(QAccessible::Description)
                     .toStdString(),
                 design::list_description(3));
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
