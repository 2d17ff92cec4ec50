#pragma once

#include "link/Profile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// Gives each test a settings file of its own, so that cases do not see each other's settings when the whole
// program runs in one process.
class FreshSettings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = CProfile::FileName();
        CProfile::SetFileName(SettingsPath());
    }
    void TearDown() override { CProfile::SetFileName(m_previous); }

    QString SettingsPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
