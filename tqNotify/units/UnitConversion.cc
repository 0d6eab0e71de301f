// Field-by-field conversion of unit records between their wide and narrow twins.
#include "tqNotify/units/UnitConversion.h"

namespace {

template <class From, class To, class Convert>
void mapFields(const From& from, To& to, Convert convert) {
  convert(from.name, to.name);
  convert(from.unittype, to.unittype);
  convert(from.homedirectory, to.homedirectory);
  convert(from.executioncontext, to.executioncontext);
  to.triggable = from.triggable;
  convert(from.previousmanageraddress, to.previousmanageraddress);
  to.referencecount = from.referencecount;
  convert(from.domain, to.domain);
  convert(from.user, to.user);
  convert(from.previousserveraddress, to.previousserveraddress);
  convert(from.previousdomainuuid, to.previousdomainuuid);
  to.localuser = from.localuser;
  convert(from.uri, to.uri);
  convert(from.lastmsisource, to.lastmsisource);
  convert(from.currentmanageraddress, to.currentmanageraddress);
  convert(from.currentdomainuuid, to.currentdomainuuid);
  convert(from.previousuri, to.previousuri);
}

}  // namespace

void toWide(const UnitInfoA& from, UnitInfoW& to) {
  mapFields(from, to, [](const TQStringA& a, TQStringW& w) {
    w.clear();
    w.assign_mbcs(a.c_str(), TQStringW::npos);
  });
  to.next = nullptr;
}

void toNarrow(const UnitInfoW& from, UnitInfoA& to) {
  mapFields(from, to, [](const TQStringW& w, TQStringA& a) {
    a.clear();
    a.assign_unicode(w.c_str(), TQStringA::npos);
  });
  to.next = nullptr;
}
