#include "ui/WaitBox.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace {

TEST(WaitBox, IsOnScreenAsSoonAsItIsCreatedAndGoneWhenClosed)
{
    const QString text = QStringLiteral("Please, wait while Nemola is querying receiver\n parameters");
    auto box = std::make_unique<CWaitBox>(text);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->findChild<QLabel*>(QStringLiteral("waitText"))->text(), text);

    box->SetText(QStringLiteral("Almost done"));
    EXPECT_EQ(box->Text(), QStringLiteral("Almost done"));
    box->Close();
    EXPECT_FALSE(box->isVisible());
}

TEST(WaitBox, FitsTheHandheldScreen)
{
    CWaitBox box(QStringLiteral("Please wait while the receiver erases its file system. ").repeated(8));
    EXPECT_LE(box.width(), 480);
}

}  // namespace
