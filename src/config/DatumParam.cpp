#include "config/DatumParam.h"

#include "config/ConfigPage.h"
#include "config/Toolkit.h"
#include "link/ParamBatch.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "ui/FieldNames.h"
#include "ui/Prompts.h"
#include "ui/WindowFit.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QLineEdit* MakeEdit(const char* name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setEnabled(false);
    return edit;
}

}  // namespace

CDatumParam::CDatumParam(const QString& code, QWidget* parent) : QDialog(parent), m_code(code)
{
    setObjectName(QStringLiteral("datumParam"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_datum = new QComboBox(this);
    m_datum->setObjectName(QStringLiteral("currentDatum"));
    m_ellipsoid = MakeEdit("ellipsoidId", this);
    m_axis = MakeEdit("axis", this);
    m_invFlat = MakeEdit("invFlat", this);
    m_reference = new QComboBox(this);
    m_reference->setObjectName(QStringLiteral("refDatum"));
    m_reference->setEnabled(false);
    form->addRow(QStringLiteral("Current Datum:"), m_datum);
    form->addRow(QStringLiteral("Ellipsoid ID:"), m_ellipsoid);
    form->addRow(QStringLiteral("Axis(m):"), m_axis);
    form->addRow(QStringLiteral("Inv.Flat."), m_invFlat);
    form->addRow(QStringLiteral("Ref.Datum"), m_reference);
    const char* names[] = {"dX", "dY", "dZ", "rX", "rY", "rZ", "scale"};
    const char* labels[] = {"d X(m):", "d Y(m):", "d Z(m):", "Rx(\"):", "Ry(\"):", "Rz(\"):", "Scale:"};
    for (size_t i = 0; i < m_transform.size(); ++i) {
        m_transform[i] = MakeEdit(names[i], this);
        form->addRow(QLatin1String(labels[i]), m_transform[i]);
        connect(m_transform[i], &QLineEdit::textEdited, this, [this] { SetChanged(true); });
    }
    layout->addLayout(form);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("datumStatus"));
    m_status->setWordWrap(true);
    m_status->hide();
    layout->addWidget(m_status);

    auto* buttons = new QGridLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_apply = new QPushButton(QStringLiteral("Apply"), this);
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));
    m_apply->setObjectName(QStringLiteral("apply"));
    refresh->setObjectName(QStringLiteral("refresh"));
    for (QPushButton* b : {ok, cancel, m_apply, refresh}) {
        b->setAutoDefault(false);
    }
    buttons->addWidget(ok, 0, 0);
    buttons->addWidget(cancel, 0, 1);
    buttons->addWidget(m_apply, 1, 0);
    buttons->addWidget(refresh, 1, 1);
    layout->addLayout(buttons);

    connect(m_axis, &QLineEdit::textEdited, this, [this] { SetChanged(true); });
    connect(m_invFlat, &QLineEdit::textEdited, this, [this] { SetChanged(true); });
    connect(m_reference, &QComboBox::activated, this, [this] { SetChanged(true); });
    connect(m_datum, &QComboBox::activated, this, &CDatumParam::OnDatumChosen);
    connect(ok, &QPushButton::clicked, this, &CDatumParam::Ok);
    connect(cancel, &QPushButton::clicked, this, &CDatumParam::Cancel);
    connect(m_apply, &QPushButton::clicked, this, &CDatumParam::ApplyDatum);
    connect(refresh, &QPushButton::clicked, this, [this] { Refresh(m_code); });

    Refresh(code);
    NameFieldsByLabels(this);
    FitToScreen(this);
}

void CDatumParam::SetChanged(bool changed)
{
    m_changed = changed;
    m_apply->setEnabled(changed);
}

void CDatumParam::Refresh(const QString& code)
{
    m_code = code;
    // Whatever the previous refresh showed belongs to another datum, or is no longer the receiver's.
    for (QLineEdit* edit : {m_ellipsoid, m_axis, m_invFlat}) {
        edit->setEnabled(false);
    }
    for (QLineEdit* edit : m_transform) {
        edit->setEnabled(false);
    }
    m_reference->setEnabled(false);
    m_loaded = false;
    SetChanged(false);
    const QSignalBlocker blockDatum(m_datum);
    const QSignalBlocker blockReference(m_reference);
    m_datum->clear();
    m_reference->clear();

    CParamBatch batch;
    const bool read = batch.Run(QStringLiteral("@scr stoperrors off\nprint,/par/opts/cur/_DTM\nprint,/par/pos/datum/") +
                                code + QStringLiteral("\n@end\n"));
    m_status->setText(read ? QString() : QueryFailureText(batch.FailureText()));
    m_status->setVisible(!read);
    m_datum->setEnabled(read);
    if (!read) {
        return;
    }
    const QString* available = batch.Value(0);
    const QString* record = batch.Value(1);
    if (!available || !record) {
        return;
    }
    int full = 0;
    if (ScanText(*available, "%d", &full) != 1) {
        full = 0;
    }
    m_datum->addItems(DatumCodes(full >= 1));
    // The short table selects the code too when it holds it, so that "OK" returns the datum that was shown;
    // a code it lacks leaves its first entry selected.
    int index = m_datum->findText(code, Qt::MatchExactly);
    if (index < 0 && full < 1) {
        index = 0;
    }
    m_datum->setCurrentIndex(index);

    char ellipsoid[32], axis[32], invFlat[32], name[32], values[7][32];
    int reference = 0;
    const int fields = ScanText(record->mid(2),
                                "%31[^,],%31[^,],%31[^}]},{%31[^,],%d,%31[^,],%31[^,],%31[^,],%31[^,],%31[^,],%31[^,],"
                                "%31[^}]",
                                ellipsoid, axis, invFlat, name, &reference, values[0], values[1], values[2], values[3],
                                values[4], values[5], values[6]);
    if (fields != 12) {
        return;
    }
    m_ellipsoid->setText(QString::fromLatin1(ellipsoid));
    m_axis->setText(QString::fromLatin1(axis));
    m_invFlat->setText(QString::fromLatin1(invFlat));
    for (size_t i = 0; i < m_transform.size(); ++i) {
        m_transform[i]->setText(QString::fromLatin1(values[i]));
    }
    m_reference->addItems({QStringLiteral("W84"), QStringLiteral("P90")});
    m_reference->setCurrentIndex(reference != 0 ? 1 : 0);
    m_loaded = true;

    const bool user = code == QLatin1String("USER");
    if (user || code == QLatin1String("P90")) {
        m_reference->setEnabled(user);
        m_axis->setEnabled(user);
        m_invFlat->setEnabled(user);
        for (QLineEdit* edit : m_transform) {
            edit->setEnabled(true);
        }
    }
    SetChanged(false);
    setWindowTitle(code + QStringLiteral(" Datum Parameters"));
}

void CDatumParam::OnDatumChosen(int index)
{
    if (index < 0) {
        return;
    }
    Refresh(m_datum->itemText(index));
    SetChanged(true);
}

QString CDatumParam::TransformValues() const
{
    QStringList values;
    for (QLineEdit* edit : m_transform) {
        values << edit->text();
    }
    return values.join(QLatin1Char(','));
}

bool CDatumParam::ApplyDatum()
{
    // Only a datum whose record was shown is sent: edits left empty by a failed refresh would make a record the
    // receiver refuses anyway.
    QString command;
    if (m_code == QLatin1String("P90") && m_loaded) {
        command = QStringLiteral("%%set,/par/pos/datum/P90/par,{P90,0,") + TransformValues() + QLatin1Char('}');
    } else if (m_code == QLatin1String("USER") && m_loaded) {
        const QString reference =
            ComboText(m_reference, true) == QLatin1String("W84") ? QStringLiteral("0,") : QStringLiteral("1,");
        command = QStringLiteral("%%set,/par/pos/datum/USER,{{U-,") + m_axis->text() + QLatin1Char(',') +
                  m_invFlat->text() + QStringLiteral("},{USER,") + reference + TransformValues() + QStringLiteral("}}");
    } else {
        return true;
    }
    // The typed numbers go into the command as they stand: none may carry a second command.
    if (!IsSafeParamValue(command.mid(2)) || !CReceiverHolder::Shared().Send(command)) {
        ShowMessage(ErrorText(m_code), QString());
        return false;
    }
    SetChanged(false);
    return true;
}

void CDatumParam::Ok()
{
    m_result = m_datum->currentIndex();
    ApplyDatum();
    accept();
}

void CDatumParam::Cancel()
{
    m_result = -1;
    reject();
}
