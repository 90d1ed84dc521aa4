#include "controls/linklabel.h"
#include "support/recorders.h"

#include <QHelpEvent>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace controls;

namespace {

struct OpenerLog
{
    QStringList targets;
    TLinkLabel::Opener opener()
    {
        return [this](const QString &target) { targets << target; };
    }
};

} // namespace

TEST(LinkLabel, NewLinkShowsThePlaceholderAsABlueUnderlinedLink)
{
    TLinkLabel link;
    EXPECT_EQ(link.URLorEMAIL(), "http://www.example.com/");
    EXPECT_EQ(link.toolTip(), "Put here the Hint for your site link!");
    EXPECT_TRUE(link.ShowHint());
    EXPECT_EQ(link.Choose(), ltURL);
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_GE(link.height(), 13);
    EXPECT_TRUE(link.label()->font().underline());
    EXPECT_EQ(link.label()->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(link.width(), link.label()->sizeHint().width());
    EXPECT_EQ(link.label()->geometry(), link.rect());
}

TEST(LinkLabel, WidthFollowsTheText)
{
    TLinkLabel link;
    const int before = link.width();
    link.setURLorEMAIL("http://www.example.com/a/much/longer/address/than/before.html");
    EXPECT_GT(link.width(), before);
    EXPECT_EQ(link.width(), link.label()->sizeHint().width());
    link.setURLorEMAIL("x");
    EXPECT_LT(link.width(), before);
    EXPECT_EQ(link.label()->width(), link.width());
}

// An address is shown as the characters it is made of: markup in it is not rendered.
TEST(LinkLabel, TheTextIsShownAsWritten)
{
    TLinkLabel link;
    for (const QString text : { "<b>feedback</b>@example.org", "http://example.org/?a=<i>1</i>", "Voxhall &amp; co" }) {
        link.setURLorEMAIL(text);
        EXPECT_GE(link.width(), link.label()->fontMetrics().horizontalAdvance(text)) << text.toStdString();
    }
}

TEST(LinkLabel, ClickHandsTheTargetToTheOpener)
{
    OpenerLog log;
    TLinkLabel link;
    link.setOpener(log.opener());
    link.setURLorEMAIL("feedback@example.org");
    link.setChoose(ltEMAIL);
    QTest::mouseClick(link.label(), Qt::LeftButton, {}, QPoint(2, 2));
    link.setChoose(ltURL);
    QTest::mouseClick(link.label(), Qt::LeftButton, {}, QPoint(2, 2));
    link.setURLorEMAIL("not a web address");
    QTest::mouseClick(link.label(), Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(
        log.targets, (QStringList { "mailto:feedback@example.org", "feedback@example.org", "not a web address" }));
    // Other buttons open nothing.
    QTest::mouseClick(link.label(), Qt::RightButton, {}, QPoint(2, 2));
    EXPECT_EQ(log.targets.size(), 3);
}

TEST(LinkLabel, AFailingOpenerIsReportedNotThrownIntoQt)
{
    testsupport::ExceptionRecorder recorder;
    TLinkLabel link;
    link.setOpener([](const QString &) { throw std::runtime_error("no handler"); });
    QTest::mouseClick(link.label(), Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(recorder.messages(), QStringList { "no handler" });
}

TEST(LinkLabel, ShowHintOffSuppressesTheHint)
{
    TLinkLabel link;
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), link.mapToGlobal(QPoint(2, 2)));
    link.setShowHint(false);
    EXPECT_FALSE(link.ShowHint());
    EXPECT_TRUE(static_cast<QObject &>(link).eventFilter(link.label(), &help));
    link.setShowHint(true);
    EXPECT_FALSE(static_cast<QObject &>(link).eventFilter(link.label(), &help));
}
