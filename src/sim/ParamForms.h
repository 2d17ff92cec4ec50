#pragma once

#include "sim/ParamStore.h"

#include <span>

// Checks for braced values whose shape the table's types can't express. A Braced parameter names its form in the
// `allowed` column of its table line; an empty name accepts any balanced braced list.
//   "datum-par"   {name,ref,dX,dY,dZ,Rx,Ry,Rz,scale}: ref 0 or 1, translations in metres, rotations in arc
//                 seconds, scale in ppm
//   "datum-user"  {{ellipsoid,axis,inverse flattening},{<datum-par>}}
//   "ref-pos"     {datum,N55d45m12.34567s,E037d37m11.12345s,+150.1234}: hemisphere letter, degrees, minutes below
//                 60, seconds below 60, at most 90 / 180 degrees in all; height in metres
//   "offsets"     {east,north,up}: metres, each within 1 m
//   "cmr-desc"    {"short id","cogo","long id"}: texts in double quotes of at most 8, 16 and 32 characters
//   "ipv4"        a dotted address of four fields below 256, in double quotes or not; kept without them
//   "mac"         six hexadecimal fields joined by colons, in double quotes or not; kept in them
// The last two are no braced lists (IsPlainForm).
bool IsPlainForm(const char* form);
CParamStore::SetResult CheckBracedForm(const char* form, const QString& value, QString* canonical);

// Another name of a parameter: both paths read and write one value. The receiver knows several parameters under
// an older and a newer path ("/par/pos/meas" and "/par/pos/sp/meas"). The list lives in ParamTable.cpp.
struct ParamAlias
{
    const char* alias;
    const char* target;
};

std::span<const ParamAlias> ParamAliases();
