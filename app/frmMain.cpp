#include "app/frmMain.h"

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
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <system_error>

#include "app/count_label.h"
#include "app/list_sink.h"
#include "app/patient_call.h"
#include "app/row_schedule.h"
#include "listfile/saved_list.h"
#include "listfile/saved_list_reader.h"
#include "platform/path_rules.h"
#include "platform/program_folder.h"
#include "search/searchfiles.h"
#include "settings/ini_file.h"
#include "settings/root_setting.h"

// Resources of a static library must be registered by name.
static void register_window_resources() {
    Q_INIT_RESOURCE(kestrafin);
}

namespace kestrafin::app {

namespace {

constexpr int kTwipsPerPixel = 15;
const QColor kWindowColour(128, 255, 255);
const QColor kTitleRed(192, 0, 0);
const QColor kCountRed(255, 0, 0);
const QColor kCreditRed(128, 0, 0);

const std::string kSection(settings::kRootSection);
const std::string kKey(settings::kRootKey);

void store_root(const std::string& settings_file, const std::string& root) {
    Kestrafin_Lib::writeini(settings_file, kSection, kKey, root);
}

// The saved list file `file` opened for reading, or null when there is no
// list to reload: no such name, or a hidden file. Raises std::system_error
// with the reason when what stands there is no regular file or cannot be
// opened.
std::unique_ptr<listfile::SavedListReader> open_saved_list(const std::string& file) {
    std::unique_ptr<listfile::SavedListReader> reader;
    try {
        reader = std::make_unique<listfile::SavedListReader>(file);
    } catch (const std::system_error& error) {
        // Only a name that leads nowhere means there is no list; a link loop
        // or a folder this user may not look into says why.
        if (platform::file_exists(file) ||
            error.code() == std::errc::too_many_symbolic_link_levels ||
            error.code() == std::errc::permission_denied)
            throw;
        return nullptr;
    }
    if (!platform::visible_file_exists(file)) return nullptr;
    return reader;
}

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

// How long a close request waits for the work to notice its stop flag before
// the program ends without it (a folder on a share that no longer answers).
constexpr std::chrono::milliseconds kCloseGrace{2000};

// How often a running search moves what the walk has found into the list: so
// often that little is left to move when the walk ends. The label and the
// rows show it at the window's repaint interval.
constexpr std::chrono::milliseconds kTakeInterval{10};

// How long a running search may count entries on the label that the list does
// not show yet.
constexpr std::chrono::milliseconds kLongestRowWait{1000};

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

frmMain::frmMain(std::string program_folder, WindowServices services)
    : program_folder_(std::move(program_folder)), services_(std::move(services)) {
    register_window_resources();
    create_controls();
    wire_events();
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

    lvFiles = new ResultListView(this);
    lvFiles->setFont(sans_bold);
    place(lvFiles, 120, 720, 15045, 6405);

    lblprocessrootdir =
        make_label(this, QStringLiteral("Process Root Directory:"), sans_bold, kTitleRed);
    place(lblprocessrootdir, 240, 7200, 2040, 195);

    txtFileroot = new QLineEdit(
        QString::fromUtf8(platform::kDefaultRoot.data(), platform::kDefaultRoot.size()), this);
    root_text_ = std::string(platform::kDefaultRoot);
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

    lblorvane = new ClickableLabel(QString::fromLatin1(kHomePageHost), this);
    lblorvane->setFont(credit);
    colour_text(lblorvane, kCreditRed);
    lblorvane->setToolTip(QStringLiteral("Click here to visit"));
    lblorvane->setCursor(Qt::PointingHandCursor);
    place(lblorvane, 7080, 9480, 1455, 195);

    for (QLabel* label : {Label1, lblprocessrootdir, Label2, static_cast<QLabel*>(lblorvane)})
        fit_text_to_width(label, label->text());
    // The count label holds every caption up to the largest count the list has.
    fit_text_to_width(lbllistcount, count_label_text(INT_MAX));

    tmrwait2 = new QTimer(this);
    tmrwait2->setInterval(500);

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
    // A tick that falls due while a handler runs waits until it has ended.
    connect(tmrwait2, &QTimer::timeout, this, [this] {
        if (!busy()) {
            tmrwait2_Timer();
            return;
        }
        tmrwait2->stop();
        when_idle([this] { tmrwait2_Timer(); });
    });
}

std::string frmMain::settings_file() const {
    return platform::program_file(program_folder_, settings::kSettingsFileName);
}

std::string frmMain::saved_list_file() const {
    return platform::program_file(program_folder_, listfile::kSavedListName);
}

void frmMain::set_root_text(std::string text) {
    txtFileroot->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    txtFileroot->setCursorPosition(0);  // show the start of a long root
    // The whole root, on hover: a disabled box still shows its tool tip.
    txtFileroot->setToolTip(txtFileroot->text());
    root_text_ = std::move(text);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (work_.running()) {
        work_.request_stop();
        // Nothing is saved at close, so nothing is lost by not waiting longer.
        if (!work_.wait_for_end(kCloseGrace)) std::_Exit(EXIT_SUCCESS);
    }
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
// The text that tells the user what went wrong; empty for work that was
// stopped on purpose.
QString reason_of(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const WorkInterrupted&) {
        return {};
    } catch (const std::exception& raised) {
        return QString::fromUtf8(raised.what());
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}
}  // namespace

void frmMain::run_handler(const std::function<void()>& body) {
    if (busy()) return;
    handler_running_ = true;
    std::exception_ptr error;
    try {
        body();
    } catch (...) {
        error = std::current_exception();
    }
    handler_running_ = false;
    if (error) show_error(reason_of(error));
    run_deferred();
}

void frmMain::start_work(BackgroundWork::Work work, std::function<void(bool completed)> done,
                         bool escape_stops, std::function<void()> afterwards) {
    work_.start(
        std::move(work),
        [this, done = std::move(done),
         afterwards = std::move(afterwards)](std::exception_ptr error) -> std::function<void()> {
            try {
                done(!error);
            } catch (...) {
                if (!error) error = std::current_exception();
            }
            return [this, error, afterwards] {
                if (error) {
                    const QString reason = reason_of(error);
                    if (!reason.isEmpty()) show_error(reason);
                } else if (afterwards) {
                    afterwards();
                }
                run_deferred();
            };
        },
        escape_stops);
}

void frmMain::run_deferred() {
    if (deferred_.empty() || busy()) return;
    QTimer::singleShot(0, this, [this] {
        auto work = std::move(deferred_);
        deferred_.clear();
        // Another handler may have started in between; it goes first.
        for (auto& item : work) when_idle(std::move(item));
    });
}

void frmMain::when_idle(std::function<void()> work) {
    if (busy())
        deferred_.push_back(std::move(work));
    else
        work();
}

void frmMain::show_error(const QString& text) {
    QMessageBox::critical(this, QStringLiteral("Kestrafin"), text);
}

void frmMain::Form_Load() {
    struct Loaded {
        bool created = false;
        std::string root;
    };
    try {
        // The window shows only once this is known; a program folder on a
        // share that no longer answers must not keep it from showing at all.
        const Loaded loaded = call_with_patience<Loaded>(
            [filesys = filesys, folder = program_folder_, file = settings_file()] {
                Loaded result;
                if (!filesys.FileExists(file)) {
                    filesys.CreateTextFile(folder, settings::kSettingsFileName);
                    result.created = true;
                }
                result.root = Kestrafin_Lib::readini(file, kSection, kKey);
                return result;
            },
            services_.settings_patience, "the program folder");
        if (loaded.created) tmrwait2->start();
        set_root_text(loaded.root);
    } catch (const std::exception& error) {
        // Without its settings file the tool still works for this session.
        tmrwait2->stop();
        set_root_text(std::string(platform::kDefaultRoot));
        const QString text = QStringLiteral("The settings file could not be created or read: ") +
                             QString::fromUtf8(error.what());
        QTimer::singleShot(0, this,
                           [this, text] { when_idle([this, text] { show_error(text); }); });
    }
}

void frmMain::tmrwait2_Timer() {
    run_handler([this] {
        tmrwait2->stop();
        // The settings file may lie on a share that no longer answers: it is
        // written and read back on the work thread.
        auto stored = std::make_shared<std::string>();
        start_work(
            [file = settings_file(), stored](const std::atomic<bool>&) {
                store_root(file, std::string(platform::kDefaultRoot));
                *stored = Kestrafin_Lib::readini(file, kSection, kKey);
            },
            [this, stored](bool completed) {
                if (completed) set_root_text(std::move(*stored));
            },
            false);
    });
}

void frmMain::savesettings() {
    store_root(settings_file(), root_text_);
}

void frmMain::savedefsettings() {
    store_root(settings_file(), std::string(platform::kDefaultRoot));
}

void frmMain::cmdsave_Click() {
    run_handler([this] {
        start_work([file = settings_file(),
                    root = root_text_](const std::atomic<bool>&) { store_root(file, root); },
                   [](bool) {}, false);
    });
}

void frmMain::cmdseldir_Click() {
    run_handler([this] {
        bool confirmed = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Kestrafin"),
                                                   QStringLiteral("Please enter the full path"),
                                                   QLineEdit::Normal, QString(), &confirmed);
        newroot = confirmed ? text : QString();
        if (!newroot.isEmpty()) set_root_text(newroot.toUtf8().toStdString());
    });
}

void frmMain::cmdgetfilelist_Click() {
    run_handler([this] {
        lbllistcount->setText(QString());
        ListItems& items = lvFiles->list_items();
        items.Clear();
        const std::string root = root_text_;
        // The walk runs on the work thread; the window takes what it has found
        // in batches, and once more at its end, so that the list and the label
        // end exact. The label counts every entry taken; the view shows new
        // rows as often as it can lay them out cheaply.
        auto sink = std::make_shared<ListSink>(work_.stop_flag());
        const auto start = RowSchedule::Clock::now();
        auto schedule = std::make_shared<RowSchedule>(kLongestRowWait, start);
        auto last_shown = std::make_shared<RowSchedule::Clock::time_point>(start);
        const auto show_found = [this, &items, sink, schedule, last_shown](bool at_end) {
            sink->deliver(items);
            const auto now = RowSchedule::Clock::now();
            if (!at_end && now - *last_shown < services_.repaint_interval) return;
            *last_shown = now;
            if (at_end || schedule->due(static_cast<std::size_t>(lvFiles->model()->rowCount()),
                                        items.Count(), now))
                items.Refresh();
            lbllistcount->setText(count_label_text(items.Count()));
        };
        connect(&search_progress_, &QTimer::timeout, this, [show_found] { show_found(false); });
        search_progress_.start(std::min(kTakeInterval, services_.repaint_interval));
        try {
            start_work(
                [root, sink](const std::atomic<bool>&) {
                    try {
                        search::searchfiles(root, true, *sink,
                                            {.threads = search::kDefaultThreads});
                    } catch (...) {
                        sink->hand_on();
                        throw;
                    }
                    sink->hand_on();
                },
                [this, show_found](bool) {
                    search_progress_.stop();
                    search_progress_.disconnect(this);
                    show_found(true);
                },
                true);
        } catch (...) {
            search_progress_.stop();
            search_progress_.disconnect(this);
            throw;
        }
    });
}

void frmMain::cmdsavelist_Click() {
    run_handler([this] {
        const ListItems& items = lvFiles->list_items();
        listtotal = items.Count();
        start_work(
            [&items, total = listtotal, file = saved_list_file()](const std::atomic<bool>& stop) {
                listfile::save_list(file, [&](const auto& add) {
                    for (std::size_t position = 1; position <= total; ++position) {
                        // A close request drops the new file; the old one stays.
                        if (stop.load(std::memory_order_relaxed)) throw WorkInterrupted();
                        add(items.Text(position));
                    }
                });
            },
            [](bool) {}, false);
    });
}

void frmMain::show_no_saved_list() {
    QMessageBox box(QMessageBox::Information, QStringLiteral("File could not be found to load"),
                    QStringLiteral("There is no file to load, please first save the list."),
                    QMessageBox::Ok, this);
    box.exec();
}

void frmMain::cmdloadlist_Click() {
    run_handler([this] {
        // Every look at the file is made on the work thread: a program folder
        // on a share that no longer answers must not stop the window.
        auto missing = std::make_shared<bool>(false);
        auto entries = std::make_shared<EntryStore>();
        ListItems& items = lvFiles->list_items();
        start_work(
            [this, file = saved_list_file(), missing, entries](const std::atomic<bool>& stop) {
                // Opened before the list is touched, so a file that cannot be
                // read loses nothing.
                const auto reader = open_saved_list(file);
                if (!reader) {
                    *missing = true;
                    return;
                }
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        lbllistcount->setText(QString());
                        lvFiles->list_items().Clear();
                    },
                    Qt::QueuedConnection);
                // Records go straight into the new list as they are read; the
                // file is never held whole.
                reader->read_all([&](std::string_view text) {
                    if (stop.load(std::memory_order_relaxed)) throw WorkInterrupted();
                    entries->add(text);
                });
            },
            [this, &items, entries, missing](bool completed) {
                // A file that could not be read to its end leaves the list empty.
                if (!completed || *missing) return;
                items.ReplaceAll(std::move(*entries));
                lbllistcount->setText(count_label_text(items.Count()));
            },
            false,
            [this, missing] {
                if (*missing) show_no_saved_list();
            });
    });
}

void frmMain::open_home_page() {
    run_handler([this] {
        services_.start_program(kHomePageCommand, platform::WindowStyle::MinimizedWithFocus);
    });
}

void frmMain::Image1_Click() {
    open_home_page();
}

void frmMain::lblorvane_Click() {
    open_home_page();
}

}  // namespace kestrafin::app
