// The stored form of unit records.
#include "tqNotify/units/UnitFields.h"

#include "tqUtilities.h"

namespace {
using W = UnitInfoW;
constexpr TQStringW W::*kNoText = nullptr;
constexpr int32_t W::*kNoNumber = nullptr;
}  // namespace

const std::array<UnitFieldEntry, 15> kUnitFields = {{
    {kUnitType, L"unittype", L"unittype", &W::unittype, kNoNumber, false},
    {kUnitExecutionContext, L"executioncontext", L"executioncontext", &W::executioncontext,
     kNoNumber, false},
    {kUnitTriggable, L"triggable", L"triggable", kNoText, &W::triggable, false},
    {kUnitPreviousManagerAddress, L"previousmanageraddress", L"previousmanageraddress",
     &W::previousmanageraddress, kNoNumber, false},
    {kUnitReferenceCount, L"referencecount", L"referencecount", kNoText, &W::referencecount,
     true},
    {kUnitDomain, L"domain", L"domain", &W::domain, kNoNumber, false},
    {kUnitUser, L"user", L"user", &W::user, kNoNumber, false},
    {kUnitLocalUser, L"localuser", L"localuser", kNoText, &W::localuser, false},
    {kUnitUri, L"uri", L"URI", &W::uri, kNoNumber, false},
    {kUnitPreviousServerAddress, L"previousserveraddress", L"previousserveraddress",
     &W::previousserveraddress, kNoNumber, false},
    {kUnitPreviousDomainUuid, L"previousdomainuuid", L"previousdomainuuid",
     &W::previousdomainuuid, kNoNumber, false},
    {kUnitLastMsiSource, L"lastmsisource", L"lastmsisource", &W::lastmsisource, kNoNumber,
     false},
    {kUnitCurrentManagerAddress, L"currentmanageraddress", L"currentmanageraddress",
     &W::currentmanageraddress, kNoNumber, false},
    {kUnitCurrentDomainUuid, L"currentdomainuuid", L"currentdomainuuid",
     &W::currentdomainuuid, kNoNumber, false},
    {kUnitPreviousUri, L"previousuri", L"previousuri", &W::previousuri, kNoNumber, false},
}};

TQStringW unitSectionName(const TQStringW& name) {
  TQStringW section(kUnitsSection);
  section += L"/";
  section += name;
  return section;
}

bool isStorableUnitName(const TQStringW& name) {
  const std::wstring& text = name.str();
  return !text.empty() && text.find(L'/') == std::wstring::npos &&
         text.find(L'\0') == std::wstring::npos;
}

int refuseUnitName(const wchar_t* function, const TQStringW& name) {
  TQUtilities_TraceErrorW(L"AGUNIT",
                          L"%s - refused unit name \"%s\": a unit name must not be empty or "
                          L"contain \"/\" or a NUL character",
                          function, name.c_str());
  return 5;
}

bool isForeignComputerUnit(const UnitInfoW& unit) {
  return unit.unittype.comparei(L"computer") == 0 && unit.name.comparei(L".") != 0;
}
