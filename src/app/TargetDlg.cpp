#include "app/TargetDlg.h"

#include "link/PgPosition.h"
#include "link/SiteEvents.h"
#include "ui/ElidedLabel.h"
#include "ui/FieldWidth.h"
#include "ui/WindowFit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr double kRadToDeg = 57.29577951308232;
constexpr double kDegToRad = 0.017453292519943295;

}  // namespace

DmsText SplitTargetAngle(double radians)
{
    const double x = std::abs(radians) * kRadToDeg;
    const double degrees = std::floor(x);
    const double minutes = std::floor((x - degrees) * 60);
    const double seconds = ((x - degrees) * 60 - minutes) * 60;
    DmsText t;
    t.degrees = QString::number(int(degrees));
    t.minutes = QString::number(int(minutes));
    t.seconds = QString::asprintf("%7.5lf", seconds).trimmed();
    t.negative = radians < 0;
    return t;
}

bool ReadTargetAngle(const DmsText& text, double limit, double* radians)
{
    double parts[3] = {};
    const QString* fields[3] = {&text.degrees, &text.minutes, &text.seconds};
    for (int i = 0; i < 3; ++i) {
        const QString f = fields[i]->trimmed();
        // The hemisphere gives the sign.
        if (!IsDecimalNumber(f) || f.startsWith(QLatin1Char('-'))) {
            return false;
        }
        parts[i] = f.toDouble();
    }
    const double value = parts[0] + parts[1] / 60 + parts[2] / 3600;
    if (!std::isfinite(value) || value > limit) {
        return false;
    }
    *radians = value * (text.negative ? -kDegToRad : kDegToRad);
    return true;
}

bool PositionFromPg(const QByteArray& pg, double* latRad, double* lonRad)
{
    PgPosition position;
    if (!ReadPgPosition(pg, &position)) {
        return false;
    }
    *latRad = position.latRad;
    *lonRad = position.lonRad;
    return true;
}

CTargetDlg::CTargetDlg(double latRad, double lonRad, bool running, LastPg lastPg, Apply apply, QWidget* parent)
    : QDialog(parent), m_lastPg(std::move(lastPg)), m_apply(std::move(apply))
{
    setObjectName(QStringLiteral("targetDialog"));
    setWindowTitle(QStringLiteral("Target position"));

    auto* grid = new QGridLayout;
    const char* rows[2] = {"lat", "lon"};
    const char* captions[2] = {"Latitude:", "Longitude:"};
    const char* parts[3] = {"Degrees", "Minutes", "Seconds"};
    // The longest text each field holds: "%7.5lf" seconds below 60.
    const char* longest[3] = {"180", "59", "59.99999"};
    for (int r = 0; r < 2; ++r) {
        auto* caption = new QLabel(QLatin1String(captions[r]), this);
        grid->addWidget(caption, r, 0);
        // Three fields and a hemisphere share the row's caption: each is announced with its part.
        const QString name = caption->text().chopped(1) + QLatin1Char(' ');
        for (int p = 0; p < 3; ++p) {
            m_fields[r][p] = new QLineEdit(this);
            m_fields[r][p]->setObjectName(QLatin1String(rows[r]) + QLatin1String(parts[p]));
            m_fields[r][p]->setAccessibleName(name + QLatin1String(parts[p]).toString().toLower());
            FitFieldToText(m_fields[r][p], QLatin1String(longest[p]));
            grid->addWidget(m_fields[r][p], r, 1 + p);
        }
        m_hemisphere[r] = new QComboBox(this);
        m_hemisphere[r]->setObjectName(QLatin1String(rows[r]) + QStringLiteral("Hemisphere"));
        m_hemisphere[r]->setAccessibleName(name + QStringLiteral("hemisphere"));
        m_hemisphere[r]->addItems(r == 0 ? QStringList{QStringLiteral("N"), QStringLiteral("S")}
                                         : QStringList{QStringLiteral("E"), QStringLiteral("W")});
        grid->addWidget(m_hemisphere[r], r, 4);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    auto* get = new QPushButton(QStringLiteral("Get from receiver"), this);
    get->setObjectName(QStringLiteral("getFromReceiver"));
    get->setEnabled(running);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(get);
    buttons->addWidget(cancel);
    m_message = new CElidedLabel(this);
    m_message->setObjectName(QStringLiteral("message"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->addWidget(m_message);

    connect(ok, &QPushButton::clicked, this, &CTargetDlg::OnOk);
    connect(get, &QPushButton::clicked, this, &CTargetDlg::OnGetFromReceiver);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    Fill(latRad, lonRad);
    FitToScreen(this);
}

QString CTargetDlg::Message() const
{
    return m_message->text();
}

void CTargetDlg::Fill(double latRad, double lonRad)
{
    const double values[2] = {latRad, lonRad};
    for (int r = 0; r < 2; ++r) {
        const DmsText t = SplitTargetAngle(values[r]);
        m_fields[r][0]->setText(t.degrees);
        m_fields[r][1]->setText(t.minutes);
        m_fields[r][2]->setText(t.seconds);
        m_hemisphere[r]->setCurrentIndex(t.negative ? 1 : 0);
    }
}

void CTargetDlg::OnOk()
{
    double values[2] = {};
    const double limits[2] = {90, 180};
    const char* invalid[2] = {"Invalid latitude value", "Invalid longitude value"};
    for (int r = 0; r < 2; ++r) {
        DmsText t;
        t.degrees = m_fields[r][0]->text();
        t.minutes = m_fields[r][1]->text();
        t.seconds = m_fields[r][2]->text();
        t.negative = m_hemisphere[r]->currentIndex() == 1;
        if (!ReadTargetAngle(t, limits[r], &values[r])) {
            m_message->setText(QLatin1String(invalid[r]));
            m_fields[r][0]->setFocus();
            return;
        }
    }
    if (m_apply) {
        m_apply(values[0], values[1]);
    }
    accept();
}

void CTargetDlg::OnGetFromReceiver()
{
    double lat = 0;
    double lon = 0;
    if (!PositionFromPg(m_lastPg ? m_lastPg() : QByteArray(), &lat, &lon)) {
        m_message->setText(QStringLiteral("No position from the receiver yet"));
        return;
    }
    m_message->clear();
    if (m_apply) {
        m_apply(lat, lon);
    }
    Fill(lat, lon);
}
