#include "qt/frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <climits>

#include "window/count_label.h"

// Resources of a static library must be registered by name.
static void register_window_resources() {
    Q_INIT_RESOURCE(kestrafin);
}

namespace kestrafin::qt {

namespace {

constexpr int kTwipsPerPixel = 15;
const QColor kWindowColour(128, 255, 255);
const QColor kTitleRed(192, 0, 0);
const QColor kCountRed(255, 0, 0);
const QColor kCreditRed(128, 0, 0);

void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                        height / kTwipsPerPixel);
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
void fit_text_to_width(QLabel* label, const QString& text) {
    QFont font = label->font();
    while (font.pointSizeF() > 5.0 && QFontMetrics(font).horizontalAdvance(text) > label->width()) {
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
    : gate_([this] { logic_.escape_pressed(); }),
      logic_(*this, std::move(program_folder), std::move(services)) {
    register_window_resources();
    create_controls();
    wire_events();
    set_text(window::Control::txtFileroot, logic_.root_text());
}

void frmMain::create_controls() {
    setWindowTitle(QStringLiteral("Kestrafin v1.0"));
    setWindowIcon(program_icon());
    setFixedSize(15270 / kTwipsPerPixel, 9840 / kTwipsPerPixel);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kWindowColour);
    setPalette(palette);
    setAutoFillBackground(true);

    const QFont sans_bold = font_of("MS Sans Serif", 8.25, true);
    const QFont credit = font_of("Times New Roman", 8.25, true);

    Label1 = make_label(this, QStringLiteral("KESTRAFIN"), font_of("MS Sans Serif", 18, true),
                        kTitleRed);
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

    lbllistcount = make_label(this, QString(), font_of("MS Sans Serif", 9.75, false), kCountRed);
    QPalette count = lbllistcount->palette();
    count.setColor(QPalette::Window, kWindowColour);
    lbllistcount->setPalette(count);
    lbllistcount->setAutoFillBackground(true);
    lbllistcount->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(lbllistcount, 6960, 7200, 2175, 255);

    Image1 = new ClickableLabel(this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/kestrafin/logo.gif")));
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
    cmdgetfilelist->setFont(font_of("MS Sans Serif", 12, true));
    cmdgetfilelist->setDefault(true);
    place(cmdgetfilelist, 6720, 8160, 2175, 615);

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
        fit_text_to_width(label, label->text());
    // The count label holds every caption up to the largest count the list has.
    fit_text_to_width(lbllistcount, QString::fromStdString(window::count_label_text(INT_MAX)));

    tmrwait2 = new QTimer(this);
    tmrwait2->setInterval(static_cast<int>(window::kFirstRunDelay.count()));

    setTabOrder(cmdgetfilelist, lvFiles);
    setTabOrder(lvFiles, cmdsave);
    setTabOrder(cmdsave, cmdseldir);
    setTabOrder(cmdseldir, cmdsavelist);
    setTabOrder(cmdsavelist, cmdloadlist);
    cmdgetfilelist->setFocus();
}

void frmMain::wire_events() {
    connect(cmdgetfilelist, &QPushButton::clicked, this, &frmMain::cmdgetfilelist_Click);
    connect(cmdsave, &QPushButton::clicked, this, &frmMain::cmdsave_Click);
    connect(cmdseldir, &QPushButton::clicked, this, &frmMain::cmdseldir_Click);
    connect(cmdsavelist, &QPushButton::clicked, this, &frmMain::cmdsavelist_Click);
    connect(cmdloadlist, &QPushButton::clicked, this, &frmMain::cmdloadlist_Click);
    connect(Image1, &ClickableLabel::clicked, this, &frmMain::Image1_Click);
    connect(lblorvane, &ClickableLabel::clicked, this, &frmMain::lblorvane_Click);
    connect(tmrwait2, &QTimer::timeout, this,
            [this] { logic_.timer_elapsed(window::Timer::tmrwait2); });
    connect(&search_progress_, &QTimer::timeout, this,
            [this] { logic_.timer_elapsed(window::Timer::search_progress); });
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
}  // namespace

void frmMain::show_message(window::MessageIcon icon, std::string_view title,
                           std::string_view text) {
    QMessageBox box(
        icon == window::MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Information,
        text_of(title), text_of(text), QMessageBox::Ok, this);
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
    }
}

void frmMain::list_reset(std::size_t rows) {
    lvFiles->rows_reset(rows);
}

void frmMain::list_grown(std::size_t rows) {
    lvFiles->rows_grown(rows);
}

void frmMain::set_activity(window::Activity activity) {
    if (activity == window::Activity::Idle)
        gate_.open();
    else
        gate_.close(activity == window::Activity::Stoppable);
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
