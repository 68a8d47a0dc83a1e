// The width estimate that lets the list's column follow the widest entry.
#include <QFont>
#include <QFontMetrics>
#include <QTest>
#include <string>
#include <vector>

#include "qt/text_width.h"

using kestrafin::qt::TextWidth;

class TextWidthTest : public QObject {
    Q_OBJECT
  private slots:
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
            // Neighbouring folders of a walk: deeper, a sibling, back up.
            "/srv/a/bÃ©/c/two.txt",
            "/srv/a/bÃ©/d/three.txt",
            "/srv/a/bÃ©Ã©/four.txt",
            "/srv/five.txt",
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
        // Selectors after the first of a run show by their code points.
        QVERIFY(width.estimate("/a\xef\xb8\x8f\xef\xb8\x8f") >=
                QFontMetrics(font).horizontalAdvance(QString::fromUtf8("/a\xef\xb8\x8f<U+FE0F>")));
    }
};

QTEST_MAIN(TextWidthTest)
#include "text_width_test.moc"
