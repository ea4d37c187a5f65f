// The choice of features and components: the tables, the product's installed state, levels and
// conditions, the command line's requests, and the conditions of the package evaluated in the
// engine's state.
#include <algorithm>

#include "msiexec/Engine.h"
#include "msiexec/EngineCommon.h"
#include "platform/Environment.h"

namespace Msi {

namespace {

constexpr int kComponent64 = 0x0100;
constexpr int kFeatureDisallowAbsent = 0x0010;

}  // namespace

void Engine::ReadFeaturesAndComponents() {
  const Table& components = m_database.Get(L"Component");
  for (std::size_t i = 0; i < components.rows.size(); ++i) {
    ComponentInfo c;
    c.name = components.Cell(i, L"Component");
    c.guid = platform::ToUpper(components.Cell(i, L"ComponentId"));
    c.directory = components.Cell(i, L"Directory_");
    c.condition = components.Cell(i, L"Condition");
    c.keyPath = components.Cell(i, L"KeyPath");
    c.attributes = Number(components.Cell(i, L"Attributes"));
    c.win64 = (c.attributes & kComponent64) != 0;
    m_components[c.name] = c;
  }
  const Table& features = m_database.Get(L"Feature");
  for (std::size_t i = 0; i < features.rows.size(); ++i) {
    FeatureInfo f;
    f.name = features.Cell(i, L"Feature");
    f.parent = features.Cell(i, L"Feature_Parent");
    if (f.parent == f.name) f.parent.clear();
    f.level = Number(features.Cell(i, L"Level"), 1);
    f.attributes = Number(features.Cell(i, L"Attributes"));
    m_features[f.name] = f;
    m_featureOrder.push_back(f.name);
  }
  const Table& links = m_database.Get(L"FeatureComponents");
  for (std::size_t i = 0; i < links.rows.size(); ++i) {
    auto f = m_features.find(links.Cell(i, L"Feature_"));
    if (f != m_features.end()) f->second.components.push_back(links.Cell(i, L"Component_"));
  }
  // What the product has now.
  if (m_installed) {
    platform::RegKey key;
    if (key.Open(platform::HKEY_LOCAL_MACHINE, kFeaturesKey + PackedGuid(m_productCode)) ==
        platform::ERROR_SUCCESS) {
      for (const auto& v : key.ValueList()) {
        auto f = m_features.find(v.name);
        if (f != m_features.end()) f->second.installed = kStateLocal;
      }
    } else {
      // A record without features: everything it has was installed.
      for (auto& [name, f] : m_features) f.installed = kStateLocal;
    }
    for (auto& [name, f] : m_features)
      if (f.installed == kStateLocal)
        for (const auto& c : f.components)
          if (m_components.count(c)) m_components[c].installed = kStateLocal;
  }
}

// Feature levels, INSTALLLEVEL and the Condition table; ADDLOCAL, REMOVE, REINSTALL and
// ADDDEFAULT on the command line; then each component's action from its features'.
void Engine::ChooseFeatures() {
  const int installLevel = Number(Property(L"INSTALLLEVEL"), 1);
  const Table& conditions = m_database.Get(L"Condition");
  for (std::size_t i = 0; i < conditions.rows.size(); ++i) {
    auto f = m_features.find(conditions.Cell(i, L"Feature_"));
    if (f == m_features.end()) continue;
    if (Evaluate(conditions.Cell(i, L"Condition")) == ConditionResult::True)
      f->second.level = Number(conditions.Cell(i, L"Level"), f->second.level);
  }
  const std::wstring addLocal = Property(L"ADDLOCAL"), remove = Property(L"REMOVE"),
                     reinstall = Property(L"REINSTALL"), addDefault = Property(L"ADDDEFAULT");
  const bool requested = !addLocal.empty() || !remove.empty() || !addDefault.empty();
  std::map<std::wstring, int> request;
  if (!m_installed && !requested) {
    for (auto& [name, f] : m_features)
      request[name] = f.level > 0 && f.level <= installLevel ? kStateLocal : kStateAbsent;
  } else {
    for (auto& [name, f] : m_features) request[name] = m_installed ? f.installed : kStateAbsent;
    // A feature asked for brings its parents; REMOVE wins over ADDLOCAL.
    auto apply = [&](const std::wstring& list, int state) {
      for (const auto& name : SplitList(list)) {
        std::vector<std::wstring> names;
        if (platform::ToUpper(name) == L"ALL") {
          for (auto& [n, f] : m_features) names.push_back(n);
        } else if (m_features.count(name)) {
          names.push_back(name);
        } else {
          m_log.Line(L"The feature " + name + L" of the command line is not in the package");
        }
        for (std::wstring n : names) {
          request[n] = state;
          for (int depth = 0; state == kStateLocal && depth < 64; ++depth) {
            n = m_features[n].parent;
            if (n.empty() || !m_features.count(n)) break;
            request[n] = kStateLocal;
          }
        }
      }
    };
    apply(addLocal, kStateLocal);
    apply(addDefault, kStateLocal);
    apply(remove, kStateAbsent);
  }
  // A feature with level 0 is off, and a child follows an absent parent.
  for (auto& [name, f] : m_features)
    if (f.level <= 0) request[name] = kStateAbsent;
  for (std::size_t pass = 0; pass <= m_features.size(); ++pass) {
    bool changed = false;
    for (auto& [name, f] : m_features) {
      if (f.parent.empty() || !m_features.count(f.parent)) continue;
      if (request[name] == kStateLocal && request[f.parent] != kStateLocal) {
        request[name] = kStateAbsent;
        changed = true;
      }
    }
    if (!changed) break;
  }
  if (m_removing)
    for (auto& [name, f] : m_features) request[name] = kStateAbsent;
  for (const auto& name : m_featureOrder) {
    FeatureInfo& f = m_features[name];
    if ((f.attributes & kFeatureDisallowAbsent) && request[name] == kStateAbsent && !m_removing &&
        f.installed == kStateLocal)
      request[name] = kStateLocal;
    f.action = request[name] == f.installed ? kStateUnknown : request[name];
    m_log.Line(L"Feature: " + name + L"; Installed: " +
               (f.installed == kStateLocal ? L"Local" : L"Absent") + L";   Request: " +
               (request[name] == kStateLocal ? L"Local" : L"Absent") + L";   Action: " +
               (f.action == kStateLocal    ? L"Local"
                : f.action == kStateAbsent ? L"Absent"
                                           : L"Null"));
  }
  const std::vector<std::wstring> reinstallList = SplitList(reinstall);
  auto reinstalled = [&](const std::wstring& feature) {
    for (const auto& r : reinstallList)
      if (platform::ToUpper(r) == L"ALL" || r == feature) return true;
    return false;
  };
  for (auto& [name, c] : m_components) {
    bool wanted = false, again = false;
    for (const auto& [fname, f] : m_features) {
      if (std::find(f.components.begin(), f.components.end(), name) == f.components.end()) continue;
      const int state = f.action == kStateUnknown ? f.installed : f.action;
      if (state == kStateLocal) wanted = true;
      if (state == kStateLocal && f.installed == kStateLocal && reinstalled(fname)) again = true;
    }
    // A component's own condition is asked when it would be installed.
    if (wanted && c.installed != kStateLocal && Evaluate(c.condition) == ConditionResult::False)
      wanted = false;
    c.reinstall = again && c.installed == kStateLocal;
    if (wanted && (c.installed != kStateLocal || c.reinstall))
      c.action = kStateLocal;
    else if (!wanted && c.installed == kStateLocal)
      c.action = kStateAbsent;
    else
      c.action = kStateUnknown;
    m_log.Line(L"Component: " + name + L"; Installed: " +
               (c.installed == kStateLocal ? L"Local" : L"Absent") + L";   Request: " +
               (wanted ? L"Local" : L"Absent") + L";   Action: " +
               (c.action == kStateLocal    ? L"Local"
                : c.action == kStateAbsent ? L"Absent"
                                           : L"Null"));
  }
}

ConditionResult Engine::Evaluate(const std::wstring& condition) const {
  ConditionContext context;
  context.property = [this](const std::wstring& n) { return Property(n); };
  context.environment = [](const std::wstring& n) {
    std::wstring v;
    platform::GetEnvironmentVariableW(n, v);
    return v;
  };
  context.feature = [this](const std::wstring& n, bool installed) {
    auto f = m_features.find(n);
    if (f == m_features.end()) return kStateUnknown;
    return installed ? f->second.installed : f->second.action;
  };
  context.component = [this](const std::wstring& n, bool installed) {
    auto c = m_components.find(n);
    if (c == m_components.end()) return kStateUnknown;
    return installed ? c->second.installed : c->second.action;
  };
  std::wstring error;
  ConditionResult r = EvaluateCondition(condition, context, &error);
  if (r == ConditionResult::Error)
    m_log.Line(L"The condition '" + condition + L"' is bad: " + error);
  return r;
}

}  // namespace Msi
