#include "qt/frmMain.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <algorithm>
#include <climits>

#include "qt/breakable_text.h"
#include "window/count_label.h"

// Resources of a static library must be registered by name.
static void register_window_resources() {
    Q_INIT_RESOURCE(kestrafin);
}

namespace kestrafin::qt {

namespace {

// The client area, in twips.
constexpr window::PixelSize kClientTwips{15270, 9840};
// The system font's size that the layout was drawn for.
constexpr double kDesignedPoints = 9;
const QColor kWindowColour(128, 255, 255);
const QColor kTitleRed(192, 0, 0);
const QColor kCountRed(255, 0, 0);
const QColor kCreditRed(128, 0, 0);
const QColor kStatusBlue(0, 0, 128);

window::FontBox box_of(const QFont& font) {
    const QFontMetricsF metrics(font);
    return {metrics.averageCharWidth(), metrics.height()};
}

QFont font_of(const char* family, double points, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void colour_text(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// Label sizes are those of their text in the intended font; where the host
// substitutes a wider face, shrink the font until `text` fits the box.
void fit_text_to_width(QLabel* label, const QString& text, double smallest_points) {
    QFont font = label->font();
    // A pixel to spare: a font drawn on a scaled screen is hinted for its
    // pixels and may come out a little wider than measured.
    while (font.pointSizeF() > smallest_points &&
           QFontMetricsF(font).horizontalAdvance(text) + 1 > label->width()) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    label->setFont(font);
}

QLabel* make_label(QWidget* parent, const QString& text, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    colour_text(label, colour);
    return label;
}

QPushButton* make_button(QWidget* parent, const QString& text) {
    auto* button = new QPushButton(text, parent);
    // Enter on a focused button presses that button.
    button->setAutoDefault(true);
    return button;
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

void frmMain::place(QWidget* widget, int left, int top, int width, int height) {
    const window::PixelRect placed = scale_.rect(left, top, width, height);
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
    setWindowTitle(QStringLiteral("Kestrafin v1.0"));
    setWindowIcon(program_icon());
    // Qt scales for the screen's DPI itself: its pixels are 96 to the inch.
    QFont designed = QApplication::font();
    designed.setPointSizeF(kDesignedPoints);
    const QScreen* shown_on = screen();
    const QSize available = shown_on ? shown_on->availableGeometry().size() : QSize();
    scale_ = window::layout_scale(96, box_of(QApplication::font()), box_of(designed), kClientTwips,
                                  frame_estimate(style()), {available.width(), available.height()});
    if (scale_.font < 1) {
        QFont smaller = QApplication::font();
        smaller.setPointSizeF(smaller.pointSizeF() * scale_.font);
        setFont(smaller);
    }
    setFixedSize(scale_.across(kClientTwips.width), scale_.down(kClientTwips.height));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kWindowColour);
    setPalette(palette);
    setAutoFillBackground(true);

    // Fonts of fixed size shrink with a window too large for its screen.
    const auto sized = [this](const char* family, double points, bool bold) {
        return font_of(family, points * scale_.fixed, bold);
    };
    const QFont sans_bold = sized("MS Sans Serif", 8.25, true);
    const QFont credit = sized("Times New Roman", 8.25, true);

    Label1 =
        make_label(this, QStringLiteral("KESTRAFIN"), sized("MS Sans Serif", 18, true), kTitleRed);
    place(Label1, 5400, 120, 4590, 435);

    lvFiles = new ResultListView(logic_.list_items(), this);
    lvFiles->setFont(sans_bold);
    place(lvFiles, 120, 720, 15045, 6405);

    lblprocessrootdir =
        make_label(this, QStringLiteral("Process Root Directory:"), sans_bold, kTitleRed);
    place(lblprocessrootdir, 240, 7200, 2040, 195);

    txtFileroot = new QLineEdit(this);
    QPalette box = txtFileroot->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        box.setColor(group, QPalette::Base, Qt::black);
        box.setColor(group, QPalette::Text, Qt::white);
    }
    box.setColor(QPalette::Disabled, QPalette::Text, QColor(200, 200, 200));
    txtFileroot->setPalette(box);
    txtFileroot->setEnabled(false);
    txtFileroot->setFocusPolicy(Qt::NoFocus);
    place(txtFileroot, 2400, 7200, 2295, 285);

    lbllistcount = make_label(this, QString(), sized("MS Sans Serif", 9.75, false), kCountRed);
    QPalette count = lbllistcount->palette();
    count.setColor(QPalette::Window, kWindowColour);
    lbllistcount->setPalette(count);
    lbllistcount->setAutoFillBackground(true);
    lbllistcount->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(lbllistcount, 6960, 7200, 2175, 255);

    Image1 = new ClickableLabel(this);
    QPixmap logo(QStringLiteral(":/kestrafin/logo.gif"));
    if (scale_.fixed < 1)
        logo = logo.scaledToWidth(static_cast<int>(logo.width() * scale_.fixed),
                                  Qt::SmoothTransformation);
    Image1->setPixmap(logo);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(Image1, 12600, 7200, 2550, 2550);

    cmdseldir = make_button(this, QStringLiteral("Change"));
    place(cmdseldir, 2400, 7560, 1095, 255);
    cmdsave = make_button(this, QStringLiteral("Save path"));
    place(cmdsave, 3600, 7560, 1095, 255);
    cmdsavelist = make_button(this, QStringLiteral("Save List"));
    place(cmdsavelist, 6600, 7560, 1095, 255);
    cmdloadlist = make_button(this, QStringLiteral("Reload List"));
    place(cmdloadlist, 7920, 7560, 1095, 255);

    cmdgetfilelist = make_button(this, QStringLiteral("Search"));
    cmdgetfilelist->setFont(sized("MS Sans Serif", 12, true));
    cmdgetfilelist->setDefault(true);
    place(cmdgetfilelist, 6720, 8160, 2175, 615);

    lblstatus = make_label(this, QString(), font(), kStatusBlue);
    place(lblstatus, 240, 8160, 6360, 255);

    Label2 = make_label(this, QStringLiteral("Coded & Designed By The Kestrafin Team"), credit,
                        kCreditRed);
    place(Label2, 6360, 9120, 2775, 195);

    lblorvane = new ClickableLabel(QString::fromLatin1(window::kHomePageHost), this);
    lblorvane->setFont(credit);
    colour_text(lblorvane, kCreditRed);
    lblorvane->setToolTip(QStringLiteral("Click here to visit"));
    lblorvane->setCursor(Qt::PointingHandCursor);
    place(lblorvane, 7080, 9480, 1455, 195);

    for (QLabel* label : {Label1, lblprocessrootdir, Label2, static_cast<QLabel*>(lblorvane)})
        fit_text_to_width(label, label->text(), 5.0 * scale_.fixed);
    // The count label holds every caption up to the largest count the list has.
    fit_text_to_width(lbllistcount, QString::fromStdString(window::count_label_text(INT_MAX)),
                      5.0 * scale_.fixed);

    name_for_assistive_technology();

    tmrwait2 = new QTimer(this);
    tmrwait2->setInterval(static_cast<int>(window::kFirstRunDelay.count()));

    setTabOrder(cmdgetfilelist, lvFiles);
    setTabOrder(lvFiles, cmdsave);
    setTabOrder(cmdsave, cmdseldir);
    setTabOrder(cmdseldir, cmdsavelist);
    setTabOrder(cmdsavelist, cmdloadlist);
    cmdgetfilelist->setFocus();
}

void frmMain::name_for_assistive_technology() {
    txtFileroot->setAccessibleName(QStringLiteral("Root folder"));
    txtFileroot->setAccessibleDescription(
        QStringLiteral("The folder that Search walks; Change sets it"));
    lvFiles->setAccessibleName(QStringLiteral("Found files"));
    lvFiles->setAccessibleDescription(QStringLiteral("The paths of the files found: 0 entries"));
    Image1->setAccessibleName(QStringLiteral("Kestrafin logo"));
    Image1->setAccessibleDescription(QStringLiteral("Opens the maker's home page"));
    lblorvane->setAccessibleName(QStringLiteral("Home page link"));
    lblorvane->setAccessibleDescription(QStringLiteral("Opens the maker's home page"));
    lbllistcount->setAccessibleName(QStringLiteral("Record count"));
    lblstatus->setAccessibleName(QStringLiteral("Search status"));
    lblstatus->setAccessibleDescription(QStringLiteral("How the last search or reload ended"));
    cmdgetfilelist->setAccessibleDescription(
        QStringLiteral("Lists the files in folders with long paths; reads Stop while it runs"));
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
    lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvFiles, &QWidget::customContextMenuRequested, this, &frmMain::show_list_menu);
    connect(tmrwait2, &QTimer::timeout, this,
            [this] { logic_.timer_elapsed(window::Timer::tmrwait2); });
    connect(&search_progress_, &QTimer::timeout, this,
            [this] { logic_.timer_elapsed(window::Timer::search_progress); });
}

bool frmMain::passes_while_searching(QObject* watched, QEvent* event) const {
    // The user's input comes to the window first, which hands it to the
    // widget it is meant for: it is judged there, where the receiver is known.
    if (watched != nullptr && watched == static_cast<const QObject*>(windowHandle())) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseMove:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                return true;
            default:
                return false;
        }
    }
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (widget == nullptr || lvFiles == nullptr) return false;
    const bool in_list = widget == lvFiles || lvFiles->isAncestorOf(widget);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            return widget == cmdgetfilelist || in_list;
        case QEvent::MouseMove:
        case QEvent::Wheel:
            return in_list;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            if (!in_list) return false;
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != 0) return false;
            switch (key->key()) {
                case Qt::Key_Up:
                case Qt::Key_Down:
                case Qt::Key_Left:
                case Qt::Key_Right:
                case Qt::Key_PageUp:
                case Qt::Key_PageDown:
                case Qt::Key_Home:
                case Qt::Key_End:
                    return true;
                default:
                    return false;
            }
        }
        default:
            return false;
    }
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
    QAction* copy = menu.addAction(QStringLiteral("Copy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(lvFiles->selectionModel()->hasSelection());
    QAction* copy_all = menu.addAction(QStringLiteral("Copy all paths"));
    copy_all->setEnabled(lvFiles->model()->rowCount() > 0);
    QAction* open = menu.addAction(QStringLiteral("Open containing folder"));
    open->setEnabled(at.isValid());
    QAction* chosen = menu.exec(lvFiles->viewport()->mapToGlobal(position));
    if (chosen == copy)
        logic_.copy_paths(selected_rows());
    else if (chosen == copy_all)
        logic_.copy_all_paths();
    else if (chosen == open)
        logic_.open_containing_folder(static_cast<std::size_t>(at.row()));
}

void frmMain::closeEvent(QCloseEvent* event) {
    logic_.close_requested();
    event->accept();
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    // Keys that reach the window were not taken by the focused control, so
    // Enter presses the default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        cmdgetfilelist->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

namespace {
QString text_of(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

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

std::optional<std::string> frmMain::ask_text(std::string_view title, std::string_view prompt) {
    bool confirmed = false;
    const QString text = QInputDialog::getText(this, text_of(title), text_of(prompt),
                                               QLineEdit::Normal, QString(), &confirmed);
    if (!confirmed) return std::nullopt;
    return text.toUtf8().toStdString();
}

void frmMain::set_text(window::Control control, std::string_view text) {
    switch (control) {
        case window::Control::txtFileroot:
            txtFileroot->setText(text_of(text));
            txtFileroot->setCursorPosition(0);  // show the start of a long root
            // The whole root, on hover: a disabled box still shows its tool tip.
            txtFileroot->setToolTip(txtFileroot->text());
            return;
        case window::Control::lbllistcount:
            lbllistcount->setText(text_of(text));
            return;
        case window::Control::status_line:
            lblstatus->setText(text_of(text));
            // The whole line, where it is longer than the label.
            lblstatus->setToolTip(lblstatus->text());
            return;
        case window::Control::cmdgetfilelist:
            cmdgetfilelist->setText(text_of(text));
            return;
    }
}

void frmMain::set_tip(window::Control control, std::string_view text) {
    if (control != window::Control::status_line) return;
    QString tip = lblstatus->text();
    if (!text.empty()) tip += QStringLiteral("\n\n") + text_of(text);
    lblstatus->setToolTip(tip);
}

void frmMain::set_clipboard(std::string_view text) {
    QGuiApplication::clipboard()->setText(text_of(text));
}

namespace {
QString list_description(std::size_t rows) {
    return QStringLiteral("The paths of the files found: %1 entries").arg(rows);
}
}  // namespace

void frmMain::list_reset(std::size_t rows) {
    lvFiles->rows_reset(rows);
    lvFiles->setAccessibleDescription(list_description(rows));
}

void frmMain::list_grown(std::size_t rows) {
    lvFiles->rows_grown(rows);
    lvFiles->setAccessibleDescription(list_description(rows));
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
