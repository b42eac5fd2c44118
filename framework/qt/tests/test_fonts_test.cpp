// The test programs draw in the fonts they bring (testing/fonts), whatever fonts the machine has:
// each face the program asks for lands on its metric-compatible stand-in, and no font of the
// machine's is seen at all.
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QRawFont>

#include <gtest/gtest.h>

#include "framework/qt/tests/qt_test_app.h"

namespace tv {
namespace {

TEST(TestFonts, EveryFaceTheProgramAsksForLandsOnAFontTheTestsBring) {
    fw::testing::qt_app();
    struct Case {
        const char* face;  // empty: the application's default font
        int weight;
        const char* family;
        const char* style;
    };
    for (const Case& c :
         {Case{"Arial", 400, "Liberation Sans", "Regular"}, Case{"Arial", 700, "Liberation Sans", "Bold"},
          Case{"Arial Narrow", 400, "Liberation Sans Narrow", "Regular"},
          Case{"Arial Narrow", 700, "Liberation Sans Narrow", "Bold"},
          Case{"Times New Roman", 400, "Liberation Serif", "Regular"},
          Case{"Times New Roman", 700, "Liberation Serif", "Bold"},
          Case{"Courier New", 400, "Liberation Mono", "Regular"},
          Case{"MS Sans Serif", 400, "Liberation Sans", "Regular"},
          Case{"A Face Nobody Has", 400, "Liberation Sans", "Regular"}, Case{"", 400, "Liberation Sans", "Regular"}}) {
        QFont font = *c.face ? QFont(QString::fromLatin1(c.face)) : QGuiApplication::font();
        font.setPixelSize(20);
        font.setWeight(static_cast<QFont::Weight>(c.weight));
        const QRawFont raw = QRawFont::fromFont(font);
        ASSERT_TRUE(raw.isValid()) << c.face;
        EXPECT_EQ(raw.familyName().toStdString(), c.family) << c.face << " " << c.weight;
        EXPECT_EQ(raw.styleName().toStdString(), c.style) << c.face << " " << c.weight;
    }
    // Besides Qt's own generic names, nothing of the machine's.
    for (const QString& family : QFontDatabase::families())
        EXPECT_TRUE(family.startsWith(u"Liberation ") || family == u"Sans Serif" || family == u"Serif" ||
                    family == u"Monospace")
            << family.toStdString();
}

}  // namespace
}  // namespace tv
