// How a running search reaches the list: the sink that hands the walk's
// entries to the window in batches, and the width estimate that lets the
// column follow the widest of them.
#include <QFont>
#include <QTest>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/list_sink.h"
#include "app/result_list.h"
#include "app/row_schedule.h"
#include "app/text_width.h"

using kestrafin::app::ListItems;
using kestrafin::app::ListSink;
using kestrafin::app::ResultListModel;
using kestrafin::app::RowSchedule;
using kestrafin::app::TextWidth;

class ListFeedTest : public QObject {
    Q_OBJECT
  private slots:
    void batches_hold_every_entry_once_in_the_walks_order() {
        // Texts of every length, the empty one included, so that an entry cut
        // at a batch boundary or shifted by its neighbour's length shows.
        std::vector<std::string> found;
        for (int i = 0; i < 60'000; ++i)
            found.push_back(i % 997 == 0 ? std::string()
                                         : std::string(i % 301, 'a' + i % 26) + std::to_string(i));
        ResultListModel model;
        ListItems items(model);
        const std::atomic<bool> stop{false};
        ListSink sink(stop);
        std::atomic<bool> walked{false};
        std::atomic<std::size_t> taken{0};
        std::atomic<bool> held_back{false};
        std::thread walk([&] {
            // Folders of 0 to 300 files; the walk hands on each folder's files
            // when it is done with the folder, and a long one in runs.
            std::size_t folder_end = 0;
            for (std::size_t at = 0; at < found.size(); ++at) {
                sink.add_entry(found[at]);
                if (at == folder_end) {
                    sink.folder_done("folder");
                    folder_end += 1 + at * 7 % 300;
                }
                // The window takes batches in between, at places of its choosing,
                // and at least once every 10,000 entries.
                if (at % 97 == 0) std::this_thread::yield();
                if (at % 10'000 == 9'999) {
                    sink.folder_done("folder");
                    const auto give_up =
                        std::chrono::steady_clock::now() + std::chrono::seconds(10);
                    while (taken < at + 1 && std::chrono::steady_clock::now() < give_up)
                        std::this_thread::yield();
                    // What a done folder handed on reaches the window.
                    if (taken < at + 1) held_back = true;
                }
            }
            // The files of the last folder, which the window takes at the end.
            sink.add_entry("last");
            sink.hand_on();
            walked = true;
        });
        std::size_t batches = 0;
        std::size_t delivered = 0;
        while (!walked) {
            const std::size_t added = sink.deliver(items);
            delivered += added;
            taken = delivered;
            batches += added > 0 ? 1 : 0;
            if (batches % 3 == 0) items.Refresh();
        }
        walk.join();
        QVERIFY(!held_back);
        // The last batch: whatever the walk added after the window last looked.
        delivered += sink.deliver(items);
        items.Refresh();
        QCOMPARE(sink.deliver(items), std::size_t{0});
        found.emplace_back("last");
        QCOMPARE(delivered, found.size());
        QCOMPARE(items.Count(), found.size());
        QCOMPARE(model.rowCount(), static_cast<int>(found.size()));
        for (std::size_t at = 0; at < found.size(); ++at) {
            if (items.Text(at + 1) != found[at])
                QFAIL(qPrintable(QStringLiteral("entry %1 differs").arg(at + 1)));
        }
        qInfo("%zu batches", batches);
        QVERIFY(batches >= found.size() / 10'000);
    }

    void a_long_search_shows_its_rows_rarely_but_never_long_after_it_found_them() {
        // A thousand entries every 50 ms for a minute, then every 50 ms for a
        // minute entries that trickle in one at a time.
        using namespace std::chrono_literals;
        const auto start = RowSchedule::Clock::now();
        RowSchedule schedule(1000ms, start);
        std::size_t total = 0;
        std::size_t shown = 0;
        auto last_shown = start;
        int shows = 0;
        for (int tick = 1; tick <= 2400; ++tick) {
            total += tick <= 1200 ? 1000 : 1;
            const auto now = start + tick * 50ms;
            if (schedule.due(shown, total, now)) {
                shown = total;
                last_shown = now;
                ++shows;
            }
            QVERIFY(shown == total || now - last_shown < 1000ms);
            // The first screenful shows at once.
            if (tick == 1) QCOMPARE(shown, total);
        }
        qInfo("%d shows", shows);
        // Shown at every tick, the view would lay out about 1.4 billion rows.
        QVERIFY2(shows <= 60 + 60 + 60, qPrintable(QString::number(shows)));
        QVERIFY(!schedule.due(total, total, start + 3600s));
    }

    void the_width_of_a_path_does_not_depend_on_the_one_before() {
        // Paths as a walk finds them: runs of files in one folder, folders
        // whose names hold multibyte, four-byte, invalid and control bytes
        // just before a separator, and a text with no separator at all.
        const std::vector<std::string> paths = {
            "/srv/a/one.txt",
            "/srv/a/two.txt",
            "/srv/a/",
            "/srv/ab/one.txt",
            "/srv/a/one.txt",
            "/srv/iii/same length",
            "/srv/WWW/same length",
            "/srv/caf\xc3\xa9/r\xc3\xa9sum\xc3\xa9.txt",
            "/srv/caf\xc3\xa9/plain",
            "/srv/cafe/plain",
            "/srv/half\xe2\x82/file",
            "/srv/half\xe2\x82/file\xe2",
            "/srv/half\xe2/file",
            "/srv/\xf0\x9f\x93\x81/\xf0\x9f\x93\x84",
            "/srv/\xf0\x9f\x93\x81/x",
            "/srv/line\nbreak/\x1b[2J",
            "/srv/line\nbreak/\xe2\x80\xae"
            "fdp.exe",
            "no separator",
            "",
            "/",
            "/srv/a/one.txt",
        };
        const QFont font(QStringLiteral("MS Sans Serif"), 8);
        TextWidth in_sequence(font);
        for (const auto& path : paths) {
            TextWidth fresh(font);
            QCOMPARE(in_sequence.estimate_path(path), fresh.estimate(path));
        }
        // The estimate counts every character: a longer name is wider.
        TextWidth width(font);
        QVERIFY(width.estimate_path("/srv/a/one.txt") < width.estimate_path("/srv/a/one.txt.bak"));
        QVERIFY(width.estimate_path("/srv/a/one.txt") < width.estimate_path("/srv/ab/one.txt"));
    }
};

QTEST_MAIN(ListFeedTest)
#include "list_feed_test.moc"
