#pragma once

#include "sim/ParamStore.h"

#include <span>

// Checks for braced values whose shape the table's types can't express. A Braced parameter names its form in the
// `allowed` column of its table line; an empty name accepts any balanced braced list.
//   "datum-par"   {name,ref,dX,dY,dZ,Rx,Ry,Rz,scale}: ref 0 or 1, translations in metres, rotations in arc
//                 seconds, scale in ppm
//   "datum-user"  {{ellipsoid,axis,inverse flattening},{<datum-par>}}
CParamStore::SetResult CheckBracedForm(const char* form, const QString& value, QString* canonical);

// Another name of a parameter: both paths read and write one value. The receiver knows several parameters under
// an older and a newer path ("/par/pos/meas" and "/par/pos/sp/meas"). The list lives in ParamTable.cpp.
struct ParamAlias
{
    const char* alias;
    const char* target;
};

std::span<const ParamAlias> ParamAliases();
