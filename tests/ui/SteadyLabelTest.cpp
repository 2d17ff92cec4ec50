#include "ui/SteadyLabel.h"

#include <QApplication>
#include <QGroupBox>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A value in a group box on a tab page, as on the live view's pages.
struct Page
{
    explicit Page(QLabel* label) : value(label)
    {
        auto* page = new QWidget;
        auto* group = new QGroupBox(QStringLiteral("Geo"), page);
        auto* layout = new QVBoxLayout(group);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setFixedSize(180, 22);
        layout->addWidget(value);
        box = group;
        auto* outer = new QVBoxLayout(page);
        outer->addWidget(group);
        outer->addStretch();
        tabs.addTab(page, QStringLiteral("Location"));
        tabs.resize(260, 160);
        tabs.show();
    }
    QImage Shown() { return tabs.screen()->grabWindow(tabs.winId()).toImage(); }

    QTabWidget tabs;
    QLabel* value;
    QGroupBox* box = nullptr;
};

// Counts the events of one type a widget gets.
struct EventCounter : QObject
{
    explicit EventCounter(QEvent::Type counted) : type(counted) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == type;
        return false;
    }
    QEvent::Type type;
    int count = 0;
};

}  // namespace

// A new value repaints the label alone, and the window shows exactly what a plain label in the same place shows:
// after new values, after the window was resized and after a palette change.
TEST(SteadyLabel, RepaintsItselfAloneWithThePixelsOfAPlainLabel)
{
    auto* steady = new CSteadyLabel;
    Page live(steady);
    Page plain(new QLabel);
    EventCounter counter(QEvent::Paint);
    live.box->installEventFilter(&counter);
    const auto show = [&](const QString& text) {
        steady->SetText(text);
        plain.value->setText(text);
        QApplication::processEvents();
        QApplication::processEvents();  // the picture of the background is drawn after the paint that needs it
    };
    const auto expectSame = [&](const char* what) {
        const QImage expected = plain.Shown();
        EXPECT_TRUE(live.Shown().convertToFormat(expected.format()) == expected) << what;
        EXPECT_TRUE(live.tabs.grab().toImage() == plain.tabs.grab().toImage()) << what;
    };
    show(QStringLiteral("50°05' 13.2263\" N"));
    expectSame("first paint");
    EXPECT_TRUE(steady->testAttribute(Qt::WA_OpaquePaintEvent));

    counter.count = 0;
    show(QStringLiteral("50°05' 13.2264\" N"));
    EXPECT_EQ(counter.count, 0) << "the group box was painted again for a new value";
    expectSame("a new value");

    live.tabs.resize(300, 200);
    plain.tabs.resize(300, 200);
    show(QStringLiteral("-0°00' 00.0001\" S"));
    expectSame("resized");

    const QImage before = plain.value->grab().toImage();
    const QPalette palette(QColor(200, 230, 200));  // every role derived from a light green
    live.tabs.setPalette(palette);
    plain.tabs.setPalette(palette);
    show(QStringLiteral("-0°00' 00.0001\" S"));
    ASSERT_NE(plain.value->grab().toImage(), before) << "the palette must change what lies under the label";
    expectSame("another palette");
}

// A ticking label sits where a plain label with the same texts sits and shows its pixels, in a status bar as in the
// main window, while its texts keep their shape, grow, and change font; and a tick of the same shape lays nothing
// out again.
TEST(TickingLabel, TakesAPlainLabelsPlaceAndLaysNothingOutForATick)
{
    QStatusBar live;
    QStatusBar plain;
    auto* ticking = new CTickingLabel;
    auto* label = new QLabel;
    for (auto [bar, pane] : {std::pair<QStatusBar*, QLabel*>{&live, ticking}, {&plain, label}}) {
        bar->addWidget(new QLabel(QStringLiteral("Connected")), 1);
        bar->addWidget(pane);
        bar->resize(300, 30);
        bar->show();
    }
    EventCounter counter(QEvent::LayoutRequest);
    live.installEventFilter(&counter);
    const auto show = [&](const char* text) {
        ticking->SetText(QString::fromLatin1(text));
        label->setText(QString::fromLatin1(text));
        QApplication::processEvents();
        EXPECT_EQ(ticking->geometry(), label->geometry()) << text;
        EXPECT_TRUE(live.grab().toImage() == plain.grab().toImage()) << text;
    };
    for (const char* text : {"00:00:05", "00:00:06", "00:00:07"}) {
        show(text);
    }
    counter.count = 0;
    show("00:00:08");
    EXPECT_EQ(counter.count, 0);
    for (const char* text : {"1d 00:00:00", "1d 00:00:01", "1d 00:00:02"}) {
        show(text);
    }
    QFont big = QApplication::font();
    big.setPointSize(big.pointSize() * 2);
    ticking->setFont(big);
    label->setFont(big);
    QApplication::processEvents();
    EXPECT_EQ(ticking->geometry(), label->geometry()) << "a new font";
    for (const char* text : {"1d 00:00:03", "1d 00:00:04", ""}) {
        show(text);
    }
}
