#include "platform/Locale.h"

#include "platform/Machine.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

std::vector<LocaleInfo> BuildTable() {
  // clang-format off
  std::vector<LocaleInfo> t = {
      {0x0402, L"bg-BG", L"Bulgarian", L"български", L"Bulgaria", L"BGR", 1251, 866, L",", L"\u00A0", L"d.M.yyyy 'г.'",
       {L"януари", L"февруари", L"март", L"април", L"май", L"юни", L"юли", L"август", L"септември", L"октомври", L"ноември", L"декември"}},
      {0x0405, L"cs-CZ", L"Czech", L"čeština", L"Czech Republic", L"CSY", 1250, 852, L",", L"\u00A0", L"dd.MM.yyyy",
       {L"leden", L"únor", L"březen", L"duben", L"květen", L"červen", L"červenec", L"srpen", L"září", L"říjen", L"listopad", L"prosinec"}},
      {0x0406, L"da-DK", L"Danish", L"dansk", L"Denmark", L"DAN", 1252, 850, L",", L".", L"dd-MM-yyyy",
       {L"januar", L"februar", L"marts", L"april", L"maj", L"juni", L"juli", L"august", L"september", L"oktober", L"november", L"december"}},
      {0x0407, L"de-DE", L"German", L"Deutsch", L"Germany", L"DEU", 1252, 850, L",", L".", L"dd.MM.yyyy",
       {L"Januar", L"Februar", L"März", L"April", L"Mai", L"Juni", L"Juli", L"August", L"September", L"Oktober", L"November", L"Dezember"}},
      {0x0408, L"el-GR", L"Greek", L"Ελληνικά", L"Greece", L"ELL", 1253, 737, L",", L".", L"d/M/yyyy",
       {L"Ιανουάριος", L"Φεβρουάριος", L"Μάρτιος", L"Απρίλιος", L"Μάιος", L"Ιούνιος", L"Ιούλιος", L"Αύγουστος", L"Σεπτέμβριος", L"Οκτώβριος", L"Νοέμβριος", L"Δεκέμβριος"}},
      {0x0409, L"en-US", L"English", L"English", L"United States", L"ENU", 1252, 437, L".", L",", L"M/d/yyyy",
       {L"January", L"February", L"March", L"April", L"May", L"June", L"July", L"August", L"September", L"October", L"November", L"December"}},
      {0x040B, L"fi-FI", L"Finnish", L"suomi", L"Finland", L"FIN", 1252, 850, L",", L"\u00A0", L"d.M.yyyy",
       {L"tammikuu", L"helmikuu", L"maaliskuu", L"huhtikuu", L"toukokuu", L"kesäkuu", L"heinäkuu", L"elokuu", L"syyskuu", L"lokakuu", L"marraskuu", L"joulukuu"}},
      {0x040C, L"fr-FR", L"French", L"français", L"France", L"FRA", 1252, 850, L",", L"\u00A0", L"dd/MM/yyyy",
       {L"janvier", L"février", L"mars", L"avril", L"mai", L"juin", L"juillet", L"août", L"septembre", L"octobre", L"novembre", L"décembre"}},
      {0x040E, L"hu-HU", L"Hungarian", L"magyar", L"Hungary", L"HUN", 1250, 852, L",", L"\u00A0", L"yyyy. MM. dd.",
       {L"január", L"február", L"március", L"április", L"május", L"június", L"július", L"augusztus", L"szeptember", L"október", L"november", L"december"}},
      {0x0410, L"it-IT", L"Italian", L"italiano", L"Italy", L"ITA", 1252, 850, L",", L".", L"dd/MM/yyyy",
       {L"gennaio", L"febbraio", L"marzo", L"aprile", L"maggio", L"giugno", L"luglio", L"agosto", L"settembre", L"ottobre", L"novembre", L"dicembre"}},
      {0x0411, L"ja-JP", L"Japanese", L"日本語", L"Japan", L"JPN", 932, 932, L".", L",", L"yyyy/MM/dd",
       {L"1月", L"2月", L"3月", L"4月", L"5月", L"6月", L"7月", L"8月", L"9月", L"10月", L"11月", L"12月"}},
      {0x0413, L"nl-NL", L"Dutch", L"Nederlands", L"Netherlands", L"NLD", 1252, 850, L",", L".", L"d-M-yyyy",
       {L"januari", L"februari", L"maart", L"april", L"mei", L"juni", L"juli", L"augustus", L"september", L"oktober", L"november", L"december"}},
      {0x0414, L"nb-NO", L"Norwegian", L"norsk (bokmål)", L"Norway", L"NOR", 1252, 850, L",", L"\u00A0", L"dd.MM.yyyy",
       {L"januar", L"februar", L"mars", L"april", L"mai", L"juni", L"juli", L"august", L"september", L"oktober", L"november", L"desember"}},
      {0x0415, L"pl-PL", L"Polish", L"polski", L"Poland", L"PLK", 1250, 852, L",", L"\u00A0", L"dd.MM.yyyy",
       {L"styczeń", L"luty", L"marzec", L"kwiecień", L"maj", L"czerwiec", L"lipiec", L"sierpień", L"wrzesień", L"październik", L"listopad", L"grudzień"}},
      {0x0416, L"pt-BR", L"Portuguese", L"português", L"Brazil", L"PTB", 1252, 850, L",", L".", L"dd/MM/yyyy",
       {L"janeiro", L"fevereiro", L"março", L"abril", L"maio", L"junho", L"julho", L"agosto", L"setembro", L"outubro", L"novembro", L"dezembro"}},
      {0x0418, L"ro-RO", L"Romanian", L"română", L"Romania", L"ROM", 1250, 852, L",", L".", L"dd.MM.yyyy",
       {L"ianuarie", L"februarie", L"martie", L"aprilie", L"mai", L"iunie", L"iulie", L"august", L"septembrie", L"octombrie", L"noiembrie", L"decembrie"}},
      {0x0419, L"ru-RU", L"Russian", L"русский", L"Russia", L"RUS", 1251, 866, L",", L"\u00A0", L"dd.MM.yyyy",
       {L"Январь", L"Февраль", L"Март", L"Апрель", L"Май", L"Июнь", L"Июль", L"Август", L"Сентябрь", L"Октябрь", L"Ноябрь", L"Декабрь"}},
      {0x041A, L"hr-HR", L"Croatian", L"hrvatski", L"Croatia", L"HRV", 1250, 852, L",", L".", L"d.M.yyyy.",
       {L"siječanj", L"veljača", L"ožujak", L"travanj", L"svibanj", L"lipanj", L"srpanj", L"kolovoz", L"rujan", L"listopad", L"studeni", L"prosinac"}},
      {0x041B, L"sk-SK", L"Slovak", L"slovenčina", L"Slovakia", L"SKY", 1250, 852, L",", L"\u00A0", L"d. M. yyyy",
       {L"január", L"február", L"marec", L"apríl", L"máj", L"jún", L"júl", L"august", L"september", L"október", L"november", L"december"}},
      {0x041D, L"sv-SE", L"Swedish", L"svenska", L"Sweden", L"SVE", 1252, 850, L",", L"\u00A0", L"yyyy-MM-dd",
       {L"januari", L"februari", L"mars", L"april", L"maj", L"juni", L"juli", L"augusti", L"september", L"oktober", L"november", L"december"}},
      {0x041F, L"tr-TR", L"Turkish", L"Türkçe", L"Turkey", L"TRK", 1254, 857, L",", L".", L"d.MM.yyyy",
       {L"Ocak", L"Şubat", L"Mart", L"Nisan", L"Mayıs", L"Haziran", L"Temmuz", L"Ağustos", L"Eylül", L"Ekim", L"Kasım", L"Aralık"}},
      {0x0422, L"uk-UA", L"Ukrainian", L"українська", L"Ukraine", L"UKR", 1251, 866, L",", L"\u00A0", L"dd.MM.yyyy",
       {L"Січень", L"Лютий", L"Березень", L"Квітень", L"Травень", L"Червень", L"Липень", L"Серпень", L"Вересень", L"Жовтень", L"Листопад", L"Грудень"}},
      {0x0424, L"sl-SI", L"Slovenian", L"slovenščina", L"Slovenia", L"SLV", 1250, 852, L",", L".", L"d. MM. yyyy",
       {L"januar", L"februar", L"marec", L"april", L"maj", L"junij", L"julij", L"avgust", L"september", L"oktober", L"november", L"december"}},
      {0x0804, L"zh-CN", L"Chinese", L"中文", L"China", L"CHS", 936, 936, L".", L",", L"yyyy/M/d",
       {L"一月", L"二月", L"三月", L"四月", L"五月", L"六月", L"七月", L"八月", L"九月", L"十月", L"十一月", L"十二月"}},
      {0x0807, L"de-CH", L"German", L"Deutsch", L"Switzerland", L"DES", 1252, 850, L".", L"'", L"dd.MM.yyyy",
       {L"Januar", L"Februar", L"März", L"April", L"Mai", L"Juni", L"Juli", L"August", L"September", L"Oktober", L"November", L"Dezember"}},
      {0x0809, L"en-GB", L"English", L"English", L"United Kingdom", L"ENG", 1252, 850, L".", L",", L"dd/MM/yyyy",
       {L"January", L"February", L"March", L"April", L"May", L"June", L"July", L"August", L"September", L"October", L"November", L"December"}},
      {0x080C, L"fr-BE", L"French", L"français", L"Belgium", L"FRB", 1252, 850, L",", L".", L"dd-MM-yy",
       {L"janvier", L"février", L"mars", L"avril", L"mai", L"juin", L"juillet", L"août", L"septembre", L"octobre", L"novembre", L"décembre"}},
      {0x0813, L"nl-BE", L"Dutch", L"Nederlands", L"Belgium", L"NLB", 1252, 850, L",", L".", L"d/MM/yyyy",
       {L"januari", L"februari", L"maart", L"april", L"mei", L"juni", L"juli", L"augustus", L"september", L"oktober", L"november", L"december"}},
      {0x0816, L"pt-PT", L"Portuguese", L"português", L"Portugal", L"PTG", 1252, 850, L",", L"\u00A0", L"dd/MM/yyyy",
       {L"janeiro", L"fevereiro", L"março", L"abril", L"maio", L"junho", L"julho", L"agosto", L"setembro", L"outubro", L"novembro", L"dezembro"}},
      {0x0C07, L"de-AT", L"German", L"Deutsch", L"Austria", L"DEA", 1252, 850, L",", L"\u00A0", L"dd.MM.yyyy",
       {L"Jänner", L"Februar", L"März", L"April", L"Mai", L"Juni", L"Juli", L"August", L"September", L"Oktober", L"November", L"Dezember"}},
      {0x0C0A, L"es-ES", L"Spanish", L"español", L"Spain", L"ESN", 1252, 850, L",", L".", L"dd/MM/yyyy",
       {L"enero", L"febrero", L"marzo", L"abril", L"mayo", L"junio", L"julio", L"agosto", L"septiembre", L"octubre", L"noviembre", L"diciembre"}},
      {0x0C0C, L"fr-CA", L"French", L"français", L"Canada", L"FRC", 1252, 850, L",", L"\u00A0", L"yyyy-MM-dd",
       {L"janvier", L"février", L"mars", L"avril", L"mai", L"juin", L"juillet", L"août", L"septembre", L"octobre", L"novembre", L"décembre"}},
  };
  // clang-format on
  std::sort(t.begin(), t.end(),
            [](const LocaleInfo& a, const LocaleInfo& b) { return a.lcid < b.lcid; });
  return t;
}

LCID ResolveLcid(LCID lcid) {
  if (lcid == LOCALE_SYSTEM_DEFAULT) return GetSystemDefaultLCID();
  if (lcid == LOCALE_USER_DEFAULT || lcid == 0) return GetUserDefaultLCID();
  return lcid & 0xFFFF;  // the sort id in the upper bits does not matter here
}

}  // namespace

const std::vector<LocaleInfo>& AllLocales() {
  static const std::vector<LocaleInfo>& table = *new std::vector<LocaleInfo>(BuildTable());
  return table;
}

const LocaleInfo* FindLocale(LCID lcid) {
  lcid = ResolveLcid(lcid);
  for (const LocaleInfo& l : AllLocales())
    if (l.lcid == lcid) return &l;
  return nullptr;
}

const LocaleInfo* FindLocaleByName(std::wstring_view name) {
  for (const LocaleInfo& l : AllLocales())
    if (EqualsNoCase(name, l.name)) return &l;
  for (const LocaleInfo& l : AllLocales())
    if (EqualsNoCase(name, l.englishName)) return &l;
  return nullptr;
}

namespace {
template <class F>
auto FromConfig(F f, LANGID fallback) -> LANGID {
  try {
    return f(Machine::Current().Config());
  } catch (const MachineError&) {
    return fallback;
  }
}
}  // namespace

LCID GetSystemDefaultLCID() {
  return FromConfig([](const MachineConfig& c) { return c.systemLcid; }, 0x0409);
}
LCID GetUserDefaultLCID() {
  return FromConfig([](const MachineConfig& c) { return c.userLcid; }, 0x0409);
}
LANGID GetSystemDefaultLangID() { return static_cast<LANGID>(GetSystemDefaultLCID()); }
LANGID GetUserDefaultLangID() { return static_cast<LANGID>(GetUserDefaultLCID()); }
LANGID GetUserDefaultUILanguage() {
  return FromConfig([](const MachineConfig& c) { return c.uiLanguage; }, 0x0409);
}
LANGID GetSystemDefaultUILanguage() {
  return FromConfig([](const MachineConfig& c) { return c.uiLanguage; }, 0x0409);
}

DWORD GetLocaleInfoW(LCID lcid, DWORD type, std::wstring& value, std::size_t maxChars) {
  const LocaleInfo* l = FindLocale(lcid);
  if (!l) return Fail(ERROR_INVALID_PARAMETER);
  type &= 0x7FFFFFFF;    // LOCALE_NOUSEROVERRIDE and friends do not change the answer
  type &= ~0x20000000u;  // LOCALE_RETURN_NUMBER is not offered: the text form is given
  std::wstring v;
  wchar_t buf[16];
  switch (type) {
    case LOCALE_ILANGUAGE:
      std::swprintf(buf, 16, L"%04x", static_cast<unsigned>(l->lcid));
      v = buf;
      break;
    case LOCALE_SLANGUAGE:
      v = std::wstring(l->englishName) + L" (" + l->englishCountry + L")";
      break;
    case LOCALE_SENGLANGUAGE: v = l->englishName; break;
    case LOCALE_SNATIVELANGNAME: v = l->nativeName; break;
    case LOCALE_SENGCOUNTRY: v = l->englishCountry; break;
    case LOCALE_SABBREVLANGNAME: v = l->abbrevName; break;
    case LOCALE_SISO639LANGNAME:
      v = std::wstring(l->name).substr(0, std::wstring(l->name).find(L'-'));
      break;
    case LOCALE_SISO3166CTRYNAME:
      v = std::wstring(l->name).substr(std::wstring(l->name).find(L'-') + 1);
      break;
    case LOCALE_SNAME: v = l->name; break;
    case LOCALE_IDEFAULTANSICODEPAGE: v = std::to_wstring(l->ansiCodePage); break;
    case LOCALE_IDEFAULTCODEPAGE: v = std::to_wstring(l->oemCodePage); break;
    case LOCALE_SDECIMAL: v = l->decimal; break;
    case LOCALE_STHOUSAND: v = l->thousand; break;
    case LOCALE_SSHORTDATE: v = l->shortDate; break;
    default:
      if (type >= LOCALE_SMONTHNAME1 && type < LOCALE_SMONTHNAME1 + 12) {
        v = l->months[type - LOCALE_SMONTHNAME1];
        break;
      }
      return Fail(ERROR_INVALID_FLAGS);
  }
  if (maxChars != 0 && v.size() + 1 > maxChars) return Fail(ERROR_INSUFFICIENT_BUFFER);
  value = v;
  return Fail(ERROR_SUCCESS);
}

}  // namespace platform
