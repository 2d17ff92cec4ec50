#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

namespace {

std::string Quoted(const QString& text)
{
    // Control characters are shown escaped so that a "\n" difference is visible in the failure message.
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            out += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\r')) {
            out += QStringLiteral("\\r");
        } else if (c == QLatin1Char('\t')) {
            out += QStringLiteral("\\t");
        } else {
            out += c;
        }
    }
    return ('"' + out + '"').toStdString();
}

}  // namespace

CScriptedPrompts::CScriptedPrompts() : m_previous(SetPrompts(this)) {}

CScriptedPrompts::~CScriptedPrompts()
{
    Verify();
    SetPrompts(m_previous);
}

QString CScriptedPrompts::KindName(Kind kind)
{
    switch (kind) {
        case Kind::Message:
            return QStringLiteral("message box");
        case Kind::OpenFile:
            return QStringLiteral("open-file chooser");
        case Kind::SaveFile:
            return QStringLiteral("save-file chooser");
        case Kind::Folder:
            return QStringLiteral("folder chooser");
    }
    return QStringLiteral("?");
}

CScriptedPrompts& CScriptedPrompts::ExpectMessage(const QString& caption, const QString& text, PromptButtons buttons,
                                                  PromptButton answer)
{
    Expected e;
    e.kind = Kind::Message;
    e.caption = caption;
    e.text = text;
    e.buttons = buttons;
    e.answer = answer;
    m_expected.push_back(e);
    return *this;
}

CScriptedPrompts& CScriptedPrompts::WithDefault(PromptButton button)
{
    if (m_expected.empty() || m_expected.back().kind != Kind::Message) {
        ADD_FAILURE() << "WithDefault() must follow ExpectMessage()";
    } else {
        m_expected.back().defaultButton = button;
    }
    return *this;
}

CScriptedPrompts& CScriptedPrompts::ExpectOpenFile(const QString& title, const QString& path, int filter)
{
    Expected e;
    e.kind = Kind::OpenFile;
    e.caption = title;
    e.path = path;
    e.filter = filter;
    m_expected.push_back(e);
    return *this;
}

CScriptedPrompts& CScriptedPrompts::ExpectSaveFile(const QString& title, const QString& path, int filter)
{
    Expected e;
    e.kind = Kind::SaveFile;
    e.caption = title;
    e.path = path;
    e.filter = filter;
    m_expected.push_back(e);
    return *this;
}

CScriptedPrompts& CScriptedPrompts::ExpectFolder(const QString& title, const QString& folder)
{
    Expected e;
    e.kind = Kind::Folder;
    e.caption = title;
    e.path = folder;
    m_expected.push_back(e);
    return *this;
}

void CScriptedPrompts::Verify()
{
    for (const Expected& e : m_expected) {
        ADD_FAILURE() << "Expected " << KindName(e.kind).toStdString() << " " << Quoted(e.caption)
                      << (e.kind == Kind::Message ? " with text " + Quoted(e.text) : std::string()) << " never came";
    }
    m_expected.clear();
}

bool CScriptedPrompts::Take(Kind kind, const Record& record, Expected* out)
{
    if (m_expected.empty()) {
        ADD_FAILURE() << "Unexpected " << KindName(kind).toStdString() << " " << Quoted(record.caption)
                      << (kind == Kind::Message ? " with text " + Quoted(record.text) : std::string());
        return false;
    }
    const Expected e = m_expected.front();
    m_expected.pop_front();
    if (e.kind != kind) {
        ADD_FAILURE() << "Expected " << KindName(e.kind).toStdString() << " " << Quoted(e.caption) << ", got "
                      << KindName(kind).toStdString() << " " << Quoted(record.caption);
        return false;
    }
    if (e.caption != record.caption) {
        ADD_FAILURE() << KindName(kind).toStdString() << ": expected caption " << Quoted(e.caption) << ", got "
                      << Quoted(record.caption);
        return false;
    }
    *out = e;
    return true;
}

PromptButton CScriptedPrompts::Message(const QString& text, const QString& caption, PromptButtons buttons,
                                       PromptIcon icon, PromptButton defaultButton)
{
    Record record;
    record.kind = Kind::Message;
    record.caption = caption;
    record.text = text;
    record.buttons = buttons;
    record.icon = icon;
    record.defaultButton = defaultButton;
    m_records.push_back(record);
    if (!OffersButton(buttons, defaultButton)) {
        ADD_FAILURE() << "Message box " << Quoted(caption) << ": its default "
                      << ButtonName(defaultButton).toStdString() << " is not among its buttons "
                      << ButtonsName(buttons).toStdString();
    }

    Expected e;
    if (!Take(Kind::Message, record, &e)) {
        return CancellingButton(buttons);
    }
    bool ok = true;
    if (e.text != text) {
        ADD_FAILURE() << "Message box " << Quoted(caption) << ": expected text " << Quoted(e.text) << ", got "
                      << Quoted(text);
        ok = false;
    }
    if (e.buttons != buttons) {
        ADD_FAILURE() << "Message box " << Quoted(caption) << ": expected buttons "
                      << ButtonsName(e.buttons).toStdString() << ", got " << ButtonsName(buttons).toStdString();
        ok = false;
    } else if (!OffersButton(buttons, e.answer)) {
        ADD_FAILURE() << "Message box " << Quoted(caption) << ": the scripted answer "
                      << ButtonName(e.answer).toStdString() << " is not among its buttons "
                      << ButtonsName(buttons).toStdString();
        ok = false;
    }
    if (e.defaultButton && *e.defaultButton != defaultButton) {
        ADD_FAILURE() << "Message box " << Quoted(caption) << ": expected default button "
                      << ButtonName(*e.defaultButton).toStdString() << ", got "
                      << ButtonName(defaultButton).toStdString();
        ok = false;
    }
    return ok ? e.answer : CancellingButton(buttons);
}

FileChoice CScriptedPrompts::Chooser(Kind kind, const FileChooserOptions& options)
{
    Record record;
    record.kind = kind;
    record.caption = options.title;
    record.text = options.folder;
    record.file = options;
    m_records.push_back(record);

    Expected e;
    if (!Take(kind, record, &e)) {
        return {};
    }
    FileChoice choice;
    choice.path = e.path;
    if (!e.path.isEmpty()) {
        choice.filter = e.filter >= 0 ? e.filter : qMax(options.selectedFilter, options.filters.isEmpty() ? -1 : 0);
    }
    return choice;
}

FileChoice CScriptedPrompts::OpenFile(const FileChooserOptions& options)
{
    return Chooser(Kind::OpenFile, options);
}

FileChoice CScriptedPrompts::SaveFile(const FileChooserOptions& options)
{
    return Chooser(Kind::SaveFile, options);
}

QString CScriptedPrompts::ChooseFolder(const QString& title, const QString& startFolder)
{
    FileChooserOptions options;
    options.title = title;
    options.folder = startFolder;
    return Chooser(Kind::Folder, options).path;
}
