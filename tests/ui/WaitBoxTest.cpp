#include "ui/WaitBox.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace {

// On screen as soon as it is created, without blocking, narrow enough for the handheld even with a long text.
TEST(WaitBox, IsOnScreenAsSoonAsItIsCreatedFitsTheHandheldAndIsGoneWhenClosed)
{
    const QString text = QStringLiteral("Please wait while the receiver erases its file system. ").repeated(8);
    CWaitBox box(text);
    EXPECT_TRUE(box.isVisible());
    EXPECT_FALSE(box.isModal());
    EXPECT_LE(box.width(), 480);
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("waitText"))->text(), text);
    box.SetText(QStringLiteral("Almost done"));
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("waitText"))->text(), QStringLiteral("Almost done"));
    box.Close();
    EXPECT_FALSE(box.isVisible());
}

}  // namespace
