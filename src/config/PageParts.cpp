#include "config/PageParts.h"

#include "config/DatumParam.h"
#include "config/ScriptWriter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPalette>
#include <QRadioButton>

namespace {

const QStringList kModeValues{"sp", "cd", "wd", "pf", "pd"};
const char* const kSolutionPaths[4] = {"/par/pos/mode/sp", "/par/pos/mode/cd", "/par/pos/mode/pf", "/par/pos/mode/pd"};
const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");

}  // namespace

QLineEdit* AddEditRow(QGridLayout* grid, const QString& caption, const char* name, QLabel** label)
{
    const int row = grid->rowCount();
    auto* l = new QLabel(caption);
    l->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    grid->addWidget(l, row, 0);
    grid->addWidget(edit, row, 1);
    if (label) {
        *label = l;
    }
    return edit;
}

RadioList AddRadioButtons(QGroupBox* box, const QStringList& texts, const std::vector<const char*>& names,
                          QObject* context, const std::function<void()>& clicked)
{
    auto* layout = new QVBoxLayout(box);
    RadioList list;
    for (int i = 0; i < texts.size(); ++i) {
        auto* radio = Named(new QRadioButton(texts[i], box), names[size_t(i)]);
        layout->addWidget(radio);
        list.push_back(radio);
        QObject::connect(radio, &QRadioButton::clicked, context, clicked);
    }
    return list;
}

QGroupBox* MakeSolutionBox(QWidget* parent, SolutionChecks* checks)
{
    auto* box = new QGroupBox(QStringLiteral("Enable Solutions"), parent);
    auto* layout = new QVBoxLayout(box);
    const char* names[] = {"solSp", "solCd", "solPf", "solPd"};
    const QStringList texts{"Standalone", "DGPS", "RTK Float", "RTK Fixed"};
    for (size_t i = 0; i < checks->size(); ++i) {
        (*checks)[i] = Named(new QCheckBox(texts[int(i)], box), names[i]);
        layout->addWidget((*checks)[i]);
    }
    return box;
}

void MakeDisplay(QLineEdit* edit)
{
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, palette.color(group, QPalette::Window));
        palette.setColor(group, QPalette::Text, palette.color(group, QPalette::WindowText));
    }
    edit->setPalette(palette);
}

bool LoadEditReported(const QString* value, QLineEdit* edit, QWidget* companion, bool enable)
{
    LoadEdit(value, edit, companion, enable);
    return value != nullptr;
}

bool LoadCheckReported(const QString* value, QCheckBox* box)
{
    LoadCheckYes(value, box);
    return value != nullptr;
}

bool LoadRadioReported(const QString* value, const RadioList& radios, const QStringList& values)
{
    LoadRadio(value, radios, values);
    return !radios.empty() && radios.front()->isEnabled();
}

bool LoadComboReported(const QString* value, const QStringList& values, QComboBox* combo, const QStringList& labels,
                       QWidget* companion)
{
    LoadComboValue(value, values, combo, labels, companion);
    return combo->isEnabled();
}

QString SendEditStep(const QString& path, QLineEdit* edit, bool quoted, const QString& refusal)
{
    if (edit->isEnabled() && !quoted && edit->text().trimmed().isEmpty()) {
        edit->setFocus(Qt::OtherFocusReason);
        return InvalidValueText(refusal);
    }
    return SetEditParam(path, edit, quoted) ? QString() : refusal;
}

bool ReadInt(const QLineEdit* edit, int* value)
{
    if (!IsIntegerText(edit->text())) {
        return false;
    }
    *value = edit->text().trimmed().toInt();
    return true;
}

bool ReadFloat(const QLineEdit* edit, float* value)
{
    if (!IsNumberText(edit->text())) {
        return false;
    }
    bool ok = false;
    *value = edit->text().trimmed().toFloat(&ok);
    return ok;
}

bool RunDatumDialog(QComboBox* datum, const DatumDialogRunner& runner, QWidget* parent)
{
    const QString code = datum->currentText();
    int index = -1;
    if (runner) {
        index = runner(code, parent);
    } else {
        CDatumParam dialog(code, parent);
        dialog.exec();
        index = dialog.ResultIndex();
    }
    if (index < 0 || index >= datum->count()) {
        return false;
    }
    datum->setCurrentIndex(index);
    return true;
}

void LoadModeAndSolutions(const QString* mode, const std::array<const QString*, 4>& solutions, const RadioList& modes,
                          const SolutionChecks& boxes)
{
    LoadRadio(mode, modes, kModeValues);
    for (size_t i = 0; i < boxes.size(); ++i) {
        LoadCheckYes(solutions[i], boxes[i]);
    }
    if (!boxes[3]->isEnabled()) {
        boxes[3]->setChecked(true);
    }
}

QString ApplyModeAndSolutions(const RadioList& modes, const SolutionChecks& boxes,
                              const std::array<const char*, 5>& errors)
{
    if (!SetRadioParam(QStringLiteral("/par/pos/mode/cur"), modes, kModeValues)) {
        return QLatin1String(errors[0]);
    }
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (!SetCheckParam(QLatin1String(kSolutionPaths[i]), boxes[i], kOn, kOff)) {
            return QLatin1String(errors[i + 1]);
        }
    }
    return QString();
}

void WriteModeAndSolutions(const RadioList& modes, const SolutionChecks& boxes)
{
    WriteRadioParam(QStringLiteral("/par/pos/mode/cur"), modes, kModeValues);
    for (size_t i = 0; i < boxes.size(); ++i) {
        WriteCheckParam(QLatin1String(kSolutionPaths[i]), boxes[i], kOn, kOff);
    }
}
