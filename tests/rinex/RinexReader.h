#pragma once

// A small RINEX 3 observation reader for the tests: fields are cut by column, as any reader does, so a value one
// column off reads wrong here too. It knows the signals this receiver tracks and refuses a file that names others
// (Galileo E1 is the combined B+C signal, 1X; C/A is 1C elsewhere; P code W on GPS and P on GLONASS).

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QTimeZone>

#include <map>
#include <set>
#include <string>
#include <vector>

struct RnxValue
{
    double value = 0;
    char lli = ' ';
};

struct RnxEpoch
{
    QDateTime time;
    std::map<std::string, std::map<std::string, RnxValue>> sats;  // "G05" -> "C1C" -> value (present ones only)
};

struct RnxFile
{
    bool ok = false;
    std::vector<QByteArray> header;
    std::map<char, std::vector<std::string>> types;
    std::vector<RnxEpoch> epochs;

    QByteArray HeaderLine(const char* label) const
    {
        for (const QByteArray& l : header) {
            if (l.mid(60).trimmed() == label) {
                return l;
            }
        }
        return {};
    }

    static RnxFile Parse(const QByteArray& text)
    {
        RnxFile f;
        const QList<QByteArray> lines = text.split('\n');
        qsizetype i = 0;
        char pendingSys = 0;
        for (; i < lines.size(); ++i) {
            const QByteArray& l = lines[i];
            f.header.push_back(l);
            const QByteArray label = l.mid(60).trimmed();
            if (label == "SYS / # / OBS TYPES") {
                if (l[0] != ' ') {
                    pendingSys = l[0];
                }
                for (int c = 6; c + 4 <= 58 && c + 4 <= l.size(); c += 4) {
                    const QByteArray code = l.mid(c + 1, 3).trimmed();
                    if (!code.isEmpty()) {
                        f.types[pendingSys].push_back(code.toStdString());
                    }
                }
            }
            if (label == "END OF HEADER") {
                ++i;
                break;
            }
        }
        const std::map<char, std::set<std::string>> kTracked = {
            {'G', {"1C", "1W", "2W"}}, {'R', {"1C", "1P", "2P"}}, {'E', {"1X"}}, {'S', {"1C"}}, {'J', {"1C"}}};
        for (const auto& [sys, codes] : f.types) {
            for (const std::string& code : codes) {
                if (!kTracked.count(sys) || !kTracked.at(sys).count(code.substr(1))) {
                    return f;
                }
            }
        }
        while (i < lines.size()) {
            const QByteArray& l = lines[i++];
            if (l.isEmpty()) {
                continue;
            }
            if (l[0] != '>') {
                return f;
            }
            RnxEpoch e;
            const double sec = l.mid(18, 11).trimmed().toDouble();
            e.time = QDateTime(QDate(l.mid(2, 4).toInt(), l.mid(7, 2).toInt(), l.mid(10, 2).toInt()),
                               QTime(l.mid(13, 2).toInt(), l.mid(16, 2).toInt()), QTimeZone::utc())
                         .addMSecs(qint64(std::llround(sec * 1000)));
            const int n = l.mid(32, 3).trimmed().toInt();
            for (int k = 0; k < n && i < lines.size(); ++k) {
                const QByteArray& s = lines[i++];
                const std::string sat = s.left(3).toStdString();
                const auto& types = f.types[s[0]];
                for (size_t t = 0; t < types.size(); ++t) {
                    const QByteArray field = s.mid(3 + 16 * qsizetype(t), 16);
                    const QByteArray v = field.left(14).trimmed();
                    if (!v.isEmpty()) {
                        e.sats[sat][types[t]] = {v.toDouble(), field.size() > 14 ? field[14] : ' '};
                    }
                }
            }
            f.epochs.push_back(std::move(e));
        }
        f.ok = true;
        return f;
    }
};
