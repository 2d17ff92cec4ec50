// The configuration toolkit's Load routines on reply text as a page gets it: the input is the reply of a
// four-line query batch, parsed into values by CParamBatch and loaded into edits, check boxes, combos and radios.
// Oracles: what the Value routines send back agrees with what was loaded (the reported choice, the number of list
// entries), and a text read as an integer also reads as a number. The same bytes as a port's message list and as
// a "PG" body: a list read back gives its text again, a position read is in range.
#include "FuzzSupport.h"

#include "config/Position.h"
#include "config/Toolkit.h"
#include "config/ports/PortTables.h"
#include "link/ParamBatch.h"
#include "link/PgPosition.h"
#include "link/Scan.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <cmath>

namespace {

struct Controls
{
    Controls()
    {
        for (int i = 0; i < kMaxListEntries + 1; ++i) {
            edits.push_back(new QLineEdit(&window));
            boxes.push_back(new QCheckBox(&window));
            labels.push_back(new QLabel(&window));
        }
        for (int i = 0; i < 5; ++i) {
            radios.push_back(new QRadioButton(&window));
        }
        combo->addItems(CPosition::AlarmLabels());
        ports->addItems(PortSourceLabels());
    }
    QWidget window;
    EditList edits;
    CheckList boxes;
    WidgetList labels;
    RadioList radios;
    QComboBox* combo = new QComboBox(&window);
    QComboBox* ports = new QComboBox(&window);
};

void Check(bool ok, const char* why)
{
    if (!ok) {
        FuzzFail("toolkit", why);
    }
}

// The commas between a list's items, read as the loader reads them: a double quote at an item's start runs to the
// next one, and the commas inside belong to the item.
int Separators(const QString& list)
{
    int commas = 0;
    bool itemStart = true;
    bool inQuotes = false;
    for (qsizetype i = 1; i < list.size(); ++i) {
        const QChar c = list[i];
        if (inQuotes) {
            inQuotes = c != QLatin1Char('"');
            continue;
        }
        inQuotes = itemStart && c == QLatin1Char('"');
        itemStart = c == QLatin1Char(',');
        commas += itemStart ? 1 : 0;
    }
    return commas;
}

}  // namespace

void FuzzToolkit(const uint8_t* data, size_t size)
{
    static Controls c;
    CFuzzInput in(data, size);
    const int n = in.Pick(kMaxListEntries + 2);
    const bool utf8 = in.Pick(2);
    const QByteArray bytes = in.Rest();
    const QString reply = utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    CParamBatch batch;
    batch.ParseReply(QStringLiteral("@scr stoperrors off\nprint,a\nprint,b\nprint,c\nprint,d\n@end\n"), reply);

    const QString* value = batch[0];
    LoadEdit(value, c.edits[0], c.labels[0], true);
    LoadEditPlain(batch[1], c.edits[1], false);
    LoadCheck(value, QStringLiteral("on"), c.boxes[0]);
    LoadCheckYes(batch[1], c.boxes[1]);
    LoadComboText(batch[2], c.ports);
    Check(!c.ports->isEnabled() || c.ports->currentText() == *batch[2], "a combo shows another text than loaded");

    const EditList edits(c.edits.begin(), c.edits.begin() + n);
    LoadEditList(batch[1], edits, WidgetList(c.labels.begin(), c.labels.begin() + n));
    const int listed = std::min(n, kMaxListEntries);
    if (batch[1] && listed > 0) {
        Check(Separators(EditListValue(edits, false)) == listed - 1,
              "an edit list sends back a different number of entries");
    }
    const CheckList boxes(c.boxes.begin(), c.boxes.begin() + n);
    LoadCheckList(batch[2], boxes);
    if (batch[2] && !batch[2]->isEmpty() && listed > 0) {
        const QString sent = CheckListValue(boxes, QStringLiteral("on"), QStringLiteral("off"), false);
        Check(sent.count(QLatin1Char(',')) == listed - 1, "a check list sends back a different number of entries");
    }

    const QStringList values = CPosition::AlarmValues();
    LoadComboValue(batch[3], values, c.combo, CPosition::AlarmLabels(), c.labels[1]);
    if (c.combo->isEnabled()) {
        Check(ComboValue(values, c.combo, CPosition::AlarmLabels(), false).compare(*batch[3], Qt::CaseInsensitive) == 0,
              "a combo sends back another value than it loaded");
    }
    const QStringList modes = CPosition::ModeValues();
    LoadRadio(value, c.radios, modes);
    if (c.radios[0]->isEnabled()) {
        Check(RadioValue(c.radios, modes).compare(*value, Qt::CaseInsensitive) == 0,
              "radios send back another value than they loaded");
    }

    for (int i = 0; i < 4; ++i) {
        if (const QString* v = batch[i]) {
            Check(!IsIntegerText(*v) || IsNumberText(*v), "an integer text that is not a number");
            int number = 0;
            char word[32] = {};
            ScanText(*v, "%d,%31[^,]", &number, word);
            AnswerValue(*v);
        }
    }

    // A port's message list is read whole or not at all, and gives back the text it was read from.
    std::vector<PortMessage> messages;
    int count = 0;
    constexpr int kMaxMessages = 64;
    if (ParsePortMessages(reply.trimmed(), &messages, &count, kMaxMessages) && count <= kMaxMessages) {
        QStringList items;
        for (const PortMessage& m : messages) {
            items << m.name + QStringLiteral("={") + m.params + QLatin1Char('}');
        }
        Check(QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}') == reply.trimmed(),
              "a message list does not read back as it was");
    }
    PgPosition position;
    if (ReadPgPosition(bytes, &position)) {
        Check(std::abs(position.latRad) <= 1.6 && std::abs(position.lonRad) <= 3.15 && std::isfinite(position.height),
              "a position out of range");
    }
}
