#include "qt/frmMain.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "qt/breakable_text.h"
#include "qt/readable_text.h"
#include "qt/root_prompt.h"
#include "window/context_menu.h"
#include "window/input_policy.h"
#include "window/window_design.h"

// Resources of a static library must be registered by name.
static void register_window_resources() {
    Q_INIT_RESOURCE(kestrafin);
}

namespace kestrafin::qt {

namespace {

QColor colour_of(window::design::Rgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

QString text_of(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

window::FontBox box_of(const QFont& font) {
    const QFontMetricsF metrics(font);
    return {metrics.averageCharWidth(), metrics.height()};
}

// A designed font at `scale` times its size; the system font is the widget's own.
QFont font_of(const window::design::Font& designed, const QFont& system, double scale) {
    if (designed.family.empty()) return system;
    QFont font(text_of(designed.family));
    font.setPointSizeF(designed.points * scale);
    font.setBold(designed.bold);
    return font;
}

void colour_text(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// Label sizes are those of their text in the intended font; where the host
// substitutes a wider face, the font shrinks until the text fits the box.
void fit_text_to_width(QLabel* label, const window::design::Control& designed, double scale) {
    QFont font = label->font();
    const QString text = QString::fromStdString(window::design::fitted_text(designed));
    font.setPointSizeF(
        window::design::fitted_points(designed.font.points, scale, [&](double points) {
            font.setPointSizeF(points);
            // A pixel to spare: a font drawn on a scaled screen is hinted for its
            // pixels and may come out a little wider than measured.
            return QFontMetricsF(font).horizontalAdvance(text) + 1 <= label->width();
        }));
    label->setFont(font);
}

void apply_colour(QWidget* widget, const window::design::Control& designed) {
    if (designed.text_colour) colour_text(widget, colour_of(*designed.text_colour));
}

void name_for_assistive_technology(QWidget* widget, const window::design::Control& designed) {
    if (!designed.accessible_name.empty())
        widget->setAccessibleName(text_of(designed.accessible_name));
    if (!designed.accessible_description.empty())
        widget->setAccessibleDescription(text_of(designed.accessible_description));
}

QPushButton* make_button(QWidget* parent, const window::design::Control& designed) {
    auto* button = new QPushButton(text_of(designed.caption), parent);
    // Enter on a focused button presses that button.
    button->setAutoDefault(true);
    return button;
}

window::InputKey input_key(int key) {
    switch (key) {
        case Qt::Key_Up:
            return window::InputKey::Up;
        case Qt::Key_Down:
            return window::InputKey::Down;
        case Qt::Key_Left:
            return window::InputKey::Left;
        case Qt::Key_Right:
            return window::InputKey::Right;
        case Qt::Key_PageUp:
            return window::InputKey::PageUp;
        case Qt::Key_PageDown:
            return window::InputKey::PageDown;
        case Qt::Key_Home:
            return window::InputKey::Home;
        case Qt::Key_End:
            return window::InputKey::End;
        default:
            return window::InputKey::Other;
    }
}

QIcon program_icon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 72, 96, 128})
        icon.addFile(QStringLiteral(":/kestrafin/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace

frmMain::frmMain(std::string program_folder, window::WindowServices services)
    : gate_([this] { logic_.escape_pressed(); },
            [this](QObject* watched, QEvent* event) {
                return passes_while_searching(watched, event);
            }),
      logic_(*this, std::move(program_folder), std::move(services)) {
    register_window_resources();
    create_controls();
    wire_events();
    set_text(window::Control::txtFileroot, logic_.root_text());
}

void frmMain::place(QWidget* widget, const window::design::Control& designed) {
    const window::design::Twips& at = designed.place;
    const window::PixelRect placed = scale_.rect(at.left, at.top, at.width, at.height);
    widget->setGeometry(placed.left, placed.top, placed.width, placed.height);
}

namespace {

// The room a window manager's frame takes, as far as the style can tell
// before the window is shown.
window::PixelSize frame_estimate(const QStyle* style) {
    const int border = 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth) + 4;
    return {border, style->pixelMetric(QStyle::PM_TitleBarHeight) + border};
}

}  // namespace

void frmMain::place_on_screen() {
    const QScreen* shown_on = screen();
    if (shown_on == nullptr) return;
    const QRect area = shown_on->availableGeometry();
    QSize outer = frameGeometry().size();
    if (!isVisible()) {
        const window::PixelSize frame = frame_estimate(style());
        outer = size() + QSize(frame.width, frame.height);
    }
    const window::PixelRect placed = window::placed_window(
        {outer.width(), outer.height()}, {area.x(), area.y(), area.width(), area.height()});
    move(placed.left, placed.top);
}

void frmMain::create_controls() {
    namespace design = window::design;
    setWindowTitle(text_of(design::kWindowTitle));
    setWindowIcon(program_icon());
    // Qt scales for the screen's DPI itself: its pixels are 96 to the inch.
    QFont designed = QApplication::font();
    designed.setPointSizeF(design::kDesignedSystemPoints);
    const QScreen* shown_on = screen();
    const QSize available = shown_on ? shown_on->availableGeometry().size() : QSize();
    scale_ = window::layout_scale(96, box_of(QApplication::font()), box_of(designed),
                                  design::kClientTwips, frame_estimate(style()),
                                  {available.width(), available.height()});
    if (scale_.font < 1) {
        QFont smaller = QApplication::font();
        smaller.setPointSizeF(smaller.pointSizeF() * scale_.font);
        setFont(smaller);
    }
    setFixedSize(scale_.across(design::kClientTwips.width),
                 scale_.down(design::kClientTwips.height));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colour_of(design::kWindowColour));
    setPalette(palette);
    setAutoFillBackground(true);

    // Each control as designed: placed, in its font (fixed sizes shrink with
    // a window too large for its screen) and colour, named for assistive
    // technology.
    const auto lay = [this](QWidget* widget, const design::Control& designed) {
        widget->setFont(font_of(designed.font, font(), scale_.fixed));
        apply_colour(widget, designed);
        place(widget, designed);
        name_for_assistive_technology(widget, designed);
    };
    const auto make_label = [this, &lay](const design::Control& designed, bool readable = false) {
        auto* label = new QLabel(text_of(designed.caption), this);
        label->setTextFormat(Qt::PlainText);
        if (readable) make_readable(label);
        lay(label, designed);
        return label;
    };

    Label1 = make_label(design::Label1);
    lvFiles = new ResultListView(logic_.list_items(), this);
    lay(lvFiles, design::lvFiles);
    lblprocessrootdir = make_label(design::lblprocessrootdir);

    txtFileroot = new QLineEdit(this);
    make_readable(txtFileroot);
    lay(txtFileroot, design::txtFileroot);
    QPalette box = txtFileroot->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        box.setColor(group, QPalette::Base, colour_of(design::kRootBoxBackground));
        box.setColor(group, QPalette::Text, colour_of(design::kRootBoxText));
    }
    // Dimmed, as a disabled box is drawn here; Qt's own grey would vanish on black.
    box.setColor(QPalette::Disabled, QPalette::Text, QColor(200, 200, 200));
    txtFileroot->setPalette(box);
    txtFileroot->setEnabled(false);
    txtFileroot->setReadOnly(true);
    txtFileroot->setFocusPolicy(Qt::NoFocus);

    lbllistcount = make_label(design::lbllistcount, true);
    QPalette count = lbllistcount->palette();
    count.setColor(QPalette::Window, colour_of(design::kWindowColour));
    lbllistcount->setPalette(count);
    lbllistcount->setAutoFillBackground(true);
    lbllistcount->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Image1 = new ClickableLabel(this);
    // Drawn larger than it shows: shrunk to the screen's own pixels, never enlarged.
    QPixmap logo(QStringLiteral(":/kestrafin/logo.png"));
    const qreal ratio = devicePixelRatioF();
    const int side = static_cast<int>(std::lround(design::kLogoPixels * scale_.fixed * ratio));
    if (logo.width() != side) logo = logo.scaledToWidth(side, Qt::SmoothTransformation);
    logo.setDevicePixelRatio(ratio);
    Image1->setPixmap(logo);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lay(Image1, design::Image1);

    cmdseldir = make_button(this, design::cmdseldir);
    lay(cmdseldir, design::cmdseldir);
    cmdsave = make_button(this, design::cmdsave);
    lay(cmdsave, design::cmdsave);
    cmdsavelist = make_button(this, design::cmdsavelist);
    lay(cmdsavelist, design::cmdsavelist);
    cmdloadlist = make_button(this, design::cmdloadlist);
    lay(cmdloadlist, design::cmdloadlist);
    cmdgetfilelist = make_button(this, design::cmdgetfilelist);
    lay(cmdgetfilelist, design::cmdgetfilelist);
    cmdgetfilelist->setDefault(true);

    // A click lists every folder the search could not read.
    lblstatus = new ClickableLabel(this);
    lblstatus->setTextFormat(Qt::PlainText);
    make_readable(lblstatus);
    lay(lblstatus, design::lblstatus);
    Label2 = make_label(design::Label2);

    lblorvane = new ClickableLabel(text_of(design::lblorvane.caption), this);
    lay(lblorvane, design::lblorvane);
    lblorvane->setToolTip(text_of(design::lblorvane.tip));
    lblorvane->setCursor(Qt::PointingHandCursor);

    const std::pair<QLabel*, const design::Control*> fitted[] = {
        {Label1, &design::Label1},
        {lblprocessrootdir, &design::lblprocessrootdir},
        {lbllistcount, &design::lbllistcount},
        {Label2, &design::Label2},
        {lblorvane, &design::lblorvane}};
    for (const auto& [label, designed] : fitted) fit_text_to_width(label, *designed, scale_.fixed);
    lvFiles->setAccessibleDescription(QString::fromStdString(design::list_description(0)));

    tmrwait2 = new QTimer(this);

    setTabOrder(cmdgetfilelist, lvFiles);
    setTabOrder(lvFiles, cmdsave);
    setTabOrder(cmdsave, cmdseldir);
    setTabOrder(cmdseldir, cmdsavelist);
    setTabOrder(cmdsavelist, cmdloadlist);
    cmdgetfilelist->setFocus();
    setAcceptDrops(true);
}

void frmMain::wire_events() {
    connect(cmdgetfilelist, &QPushButton::clicked, this, &frmMain::cmdgetfilelist_Click);
    connect(cmdsave, &QPushButton::clicked, this, &frmMain::cmdsave_Click);
    connect(cmdseldir, &QPushButton::clicked, this, &frmMain::cmdseldir_Click);
    connect(cmdsavelist, &QPushButton::clicked, this, &frmMain::cmdsavelist_Click);
    connect(cmdloadlist, &QPushButton::clicked, this, &frmMain::cmdloadlist_Click);
    connect(Image1, &ClickableLabel::clicked, this, &frmMain::Image1_Click);
    connect(lblorvane, &ClickableLabel::clicked, this, &frmMain::lblorvane_Click);
    connect(lvFiles, &ResultListView::copy_requested, this,
            [this] { logic_.copy_paths(selected_rows()); });
    connect(lblstatus, &ClickableLabel::clicked, this, [this] { logic_.folder_list_requested(); });
    lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvFiles, &QWidget::customContextMenuRequested, this, &frmMain::show_list_menu);
    connect(tmrwait2, &QTimer::timeout, this,
            [this] { logic_.timer_elapsed(window::Timer::tmrwait2); });
    connect(&search_progress_, &QTimer::timeout, this,
            [this] { logic_.timer_elapsed(window::Timer::search_progress); });
}

bool frmMain::passes_while_searching(QObject* watched, QEvent* event) const {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    // The user's input comes to the window first, which hands it to the
    // widget it is meant for. A press is judged here, by the widget under the
    // pointer: handed on, it would move the focus to that widget even where
    // the widget then drops it. The rest is judged where it is received.
    if (watched == nullptr) return false;
    if (watched == static_cast<const QObject*>(windowHandle())) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
                // Nothing there (the window's own background): no target.
                widget = childAt(static_cast<QMouseEvent*>(event)->position().toPoint());
                break;
            case QEvent::MouseButtonRelease:
            case QEvent::MouseMove:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                return true;
            default:
                return false;
        }
    } else if (widget == nullptr) {
        return false;
    }
    if (lvFiles == nullptr) return false;
    window::UserInput input;
    if (widget != nullptr && (widget == lvFiles || lvFiles->isAncestorOf(widget)))
        input.target = window::InputTarget::List;
    else if (widget != nullptr && widget == cmdgetfilelist)
        input.target = window::InputTarget::SearchButton;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            input.kind = event->type() == QEvent::MouseButtonPress
                             ? window::InputKind::ButtonPress
                             : window::InputKind::ButtonRelease;
            input.left_button = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
            break;
        case QEvent::MouseMove:
            input.kind = window::InputKind::PointerMove;
            break;
        case QEvent::Wheel:
            input.kind = window::InputKind::Wheel;
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            input.kind = event->type() == QEvent::KeyPress ? window::InputKind::KeyPress
                                                           : window::InputKind::KeyRelease;
            const auto* key = static_cast<QKeyEvent*>(event);
            input.command_modifier =
                (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != 0;
            input.key = input_key(key->key());
            break;
        }
        default:
            return false;
    }
    return window::passes_while_searching(input);
}

std::optional<std::size_t> frmMain::current_row() const {
    const QModelIndex current = lvFiles->currentIndex();
    if (!current.isValid()) return std::nullopt;
    return static_cast<std::size_t>(current.row());
}

void frmMain::show_row(std::size_t row) {
    const QModelIndex index = lvFiles->model()->index(static_cast<int>(row), 0);
    if (!index.isValid()) return;
    lvFiles->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    lvFiles->scrollTo(index);
    lvFiles->setFocus(Qt::OtherFocusReason);
}

std::vector<std::size_t> frmMain::selected_rows() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : lvFiles->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(index.row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void frmMain::show_list_menu(const QPoint& position) {
    if (busy()) return;
    const QModelIndex at = lvFiles->indexAt(position);
    QMenu menu(this);
    std::vector<std::pair<QAction*, window::ListCommand>> actions;
    window::ListMenuContext context;
    context.rows_selected = lvFiles->selectionModel()->hasSelection();
    context.has_rows = lvFiles->model()->rowCount() > 0;
    context.on_a_row = at.isValid();
    context.line_breaks =
        window::holds_line_break(logic_.list_items().store(), logic_.list_items().shown());
    // Text on the X11 and Wayland clipboards is bytes, NULs included.
    context.clipboard_takes_nul = true;
    context.folders_not_read = logic_.has_folder_problems();
    for (const window::ListMenuItem& item : window::list_menu(context)) {
        QAction* action = menu.addAction(text_of(item.caption));
        if (!item.shortcut.empty()) action->setShortcut(QKeySequence(text_of(item.shortcut)));
        action->setEnabled(item.enabled);
        actions.emplace_back(action, item.command);
    }
    QAction* chosen = menu.exec(lvFiles->viewport()->mapToGlobal(position));
    for (const auto& [action, command] : actions) {
        if (action != chosen) continue;
        switch (command) {
            case window::ListCommand::Copy:
                logic_.copy_paths(selected_rows());
                return;
            case window::ListCommand::CopyFolder:
                logic_.copy_folder_path(static_cast<std::size_t>(at.row()));
                return;
            case window::ListCommand::CopyAll:
                logic_.copy_all_paths();
                return;
            case window::ListCommand::CopyAllQuoted:
                logic_.copy_all_paths(window::PathFormat::quoted);
                return;
            case window::ListCommand::CopyAllNul:
                logic_.copy_all_paths(window::PathFormat::nul_ended);
                return;
            case window::ListCommand::OpenFolder:
                logic_.open_containing_folder(static_cast<std::size_t>(at.row()));
                return;
            case window::ListCommand::ExportAll:
                logic_.export_list();
                return;
            case window::ListCommand::ExportSelected:
                logic_.export_selection(selected_rows());
                return;
            case window::ListCommand::FoldersNotRead:
                logic_.folder_list_requested();
                return;
            case window::ListCommand::Find:
                logic_.find_in_list(current_row());
                return;
            case window::ListCommand::FindNext:
                logic_.find_next(current_row(), false);
                return;
        }
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    logic_.close_requested();
    event->accept();
}

namespace {

// The local paths a drag carries, as the host names them.
std::vector<std::string> dropped_paths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return paths;
}

}  // namespace

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy() && !dropped_paths(event->mimeData()).empty()) event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = dropped_paths(event->mimeData());
    if (paths.empty()) return;
    event->acceptProposedAction();
    logic_.root_dropped(paths);
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    // Keys that reach the window were not taken by the focused control, so
    // Enter presses the default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        cmdgetfilelist->click();
        return;
    }
    // Find and Find next, wherever the focus is: no control takes them.
    if (event->matches(QKeySequence::Find)) {
        logic_.find_in_list(current_row());
        return;
    }
    if (event->key() == Qt::Key_F3 &&
        (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) == 0) {
        logic_.find_next(current_row(), (event->modifiers() & Qt::ShiftModifier) != 0);
        return;
    }
    QWidget::keyPressEvent(event);
}

namespace {

// A message shows its text as written, never as markup: a path may hold
// "<b>" or "&lt;". A part of it selected or copied leaves out the invisible
// breaks laid into its long words, so that a copied path names the folder.
class PlainMessageBox : public QMessageBox {
  public:
    PlainMessageBox(Icon icon, const QString& title, const QString& text, QWidget* parent)
        : QMessageBox(icon, title, breakable_text(text), Ok, parent) {
        setTextFormat(Qt::PlainText);
        if (text.contains(kBreakOpportunity) || this->text() == text) return;
        QClipboard* clipboard = QGuiApplication::clipboard();
        const auto unbroken = [this, clipboard](QClipboard::Mode mode) {
            const QString copied = clipboard->text(mode);
            if (copied.contains(kBreakOpportunity) && this->text().contains(copied))
                clipboard->setText(QString(copied).remove(kBreakOpportunity), mode);
        };
        connect(clipboard, &QClipboard::dataChanged, this,
                [unbroken] { unbroken(QClipboard::Clipboard); });
        // The selection that a middle click pastes, where the host has one.
        connect(clipboard, &QClipboard::selectionChanged, this,
                [unbroken] { unbroken(QClipboard::Selection); });
    }
};

}  // namespace

void frmMain::show_message(window::MessageIcon icon, std::string_view title,
                           std::string_view text) {
    PlainMessageBox box(
        icon == window::MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Information,
        text_of(title), text_of(text), this);
    box.exec();
}

std::optional<std::string> frmMain::ask_text(std::string_view title, std::string_view prompt,
                                             std::string_view initial) {
    QInputDialog dialog(this);
    dialog.setWindowTitle(text_of(title));
    dialog.setLabelText(text_of(prompt));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextEchoMode(QLineEdit::Normal);
    dialog.setTextValue(text_of(initial));
    if (auto* box = dialog.findChild<QLineEdit*>())
        box->setMinimumWidth(prompt_box_width(box->font()));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue().toUtf8().toStdString();
}

window::FolderListAction frmMain::show_folder_list(std::string_view title, std::string_view text) {
    QDialog dialog(this);
    dialog.setWindowTitle(text_of(title));
    auto* box = new QPlainTextEdit(text_of(text), &dialog);
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* copy =
        buttons->addButton(QStringLiteral("Copy all"), QDialogButtonBox::ActionRole);
    QPushButton* export_csv =
        buttons->addButton(QStringLiteral("Export as CSV..."), QDialogButtonBox::ActionRole);
    // Enter closes, as on Windows: neither copying nor exporting happens unasked.
    buttons->addButton(QDialogButtonBox::Close)->setDefault(true);
    copy->setAutoDefault(false);
    export_csv->setAutoDefault(false);
    auto action = window::FolderListAction::close;
    connect(copy, &QPushButton::clicked, &dialog, [&] {
        action = window::FolderListAction::copy;
        dialog.accept();
    });
    connect(export_csv, &QPushButton::clicked, &dialog, [&] {
        action = window::FolderListAction::export_csv;
        dialog.accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(box);
    layout->addWidget(buttons);
    // Wide enough for a long path, and within the screen.
    dialog.resize(scale_.across(window::design::kClientTwips.width) * 3 / 4,
                  scale_.down(window::design::kClientTwips.height) * 2 / 3);
    box->setFocus();
    dialog.exec();
    return action;
}

std::optional<std::string> frmMain::ask_root(std::string_view title, std::string_view prompt,
                                             const std::vector<std::string>& recent) {
    QStringList offered;
    for (const std::string& root : recent) offered.append(text_of(root));
    const std::optional<QString> entered =
        ask_for_root(this, text_of(title), text_of(prompt), offered);
    if (!entered) return std::nullopt;
    return entered->toUtf8().toStdString();
}

std::optional<std::string> frmMain::ask_save_file(std::string_view title,
                                                  std::string_view suggested_name) {
    const QString chosen = QFileDialog::getSaveFileName(
        this, text_of(title), QDir::home().filePath(text_of(suggested_name)),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (chosen.isEmpty()) return std::nullopt;
    // Names are bytes to the host.
    return QFile::encodeName(chosen).toStdString();
}

void frmMain::set_text(window::Control control, std::string_view text) {
    switch (control) {
        case window::Control::txtFileroot:
            txtFileroot->setText(text_of(text));
            txtFileroot->setCursorPosition(0);  // show the start of a long root
            // The whole root, on hover: a disabled box still shows its tool tip.
            txtFileroot->setToolTip(txtFileroot->text());
            tell_text_changed(txtFileroot);
            return;
        case window::Control::lbllistcount:
            lbllistcount->setText(text_of(text));
            tell_text_changed(lbllistcount);
            return;
        case window::Control::status_line:
            lblstatus->setText(text_of(text));
            tell_text_changed(lblstatus);
            return;
        case window::Control::cmdgetfilelist:
            cmdgetfilelist->setText(text_of(text));
            return;
    }
}

void frmMain::set_tip(window::Control control, std::string_view text) {
    if (control == window::Control::status_line) lblstatus->setToolTip(text_of(text));
}

void frmMain::set_spoken_text(window::Control control, std::string_view text) {
    if (control == window::Control::status_line) qt::set_spoken_text(lblstatus, text_of(text));
}

bool frmMain::fits(window::Control control, std::string_view text) {
    const QLabel* label = control == window::Control::status_line    ? lblstatus
                          : control == window::Control::lbllistcount ? lbllistcount
                                                                     : nullptr;
    if (label == nullptr) return true;
    // A pixel to spare, as for the fitted fonts: hinting may draw it wider.
    return QFontMetricsF(label->font()).horizontalAdvance(text_of(text)) + 1 <=
           label->contentsRect().width();
}

void frmMain::set_clipboard(std::string_view text) {
    QGuiApplication::clipboard()->setText(text_of(text));
}

void frmMain::list_reset(std::size_t rows) {
    lvFiles->rows_reset(rows);
    lvFiles->setAccessibleDescription(
        QString::fromStdString(window::design::list_description(rows)));
}

void frmMain::list_grown(std::size_t rows) {
    lvFiles->rows_grown(rows);
    lvFiles->setAccessibleDescription(
        QString::fromStdString(window::design::list_description(rows)));
}

void frmMain::set_activity(window::Activity activity) {
    if (activity != window::Activity::Idle) {
        gate_.close(activity == window::Activity::Stoppable);
        return;
    }
    gate_.open();
    // A press on "Stop" ends here, away from the button, without a click: the
    // button reads "Search" by the time it comes up.
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(-1, -1), QPointF(-1, -1),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(cmdgetfilelist, &release);
}

QTimer* frmMain::timer_of(window::Timer timer) {
    return timer == window::Timer::tmrwait2 ? tmrwait2 : &search_progress_;
}

void frmMain::start_timer(window::Timer timer, std::chrono::milliseconds interval) {
    timer_of(timer)->start(interval);
}

void frmMain::stop_timer(window::Timer timer) {
    timer_of(timer)->stop();
}

void frmMain::post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

}  // namespace kestrafin::qt
