#include "model/TreeObject.h"

#include "ui/MlsString.h"
#include "ui/TextIds.h"
#include "xml/XmlText.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <cstdio>
#include <exception>
#include <string>

namespace {

std::wstring Text(int id) { return CProperty::TextOf(id); }

BuildErrorReporter& Reporter() {
  static BuildErrorReporter reporter;
  return reporter;
}

thread_local std::vector<std::wstring>* t_heldMessages = nullptr;
constexpr size_t kMaxHeldMessages = 10000;

void Report(const std::wstring& message) {
  if (std::vector<std::wstring>* held = t_heldMessages) {
    if (held->size() < kMaxHeldMessages) held->push_back(message);
    return;
  }
  if (Reporter()) {
    try {
      Reporter()(message);
    } catch (...) {
      // A reporter must not stop the model from loading.
    }
    return;
  }
  std::fprintf(stderr, "%ls\n", message.c_str());
}

// The library's text `id` with its first "%s" replaced by `name`. The text is never used as a
// format: language files could hold any other "%" sequence.
std::wstring Message(int id, const std::wstring& name) {
  std::wstring text = CMlsString::LoadResourceString(id);
  const auto at = text.find(L"%s");
  if (at != std::wstring::npos) text.replace(at, 2, name);
  return text;
}

}  // namespace

Matrix12 IdentityMatrix12() {
  Matrix12 m{};
  m[0] = m[5] = m[10] = 1.0;
  return m;
}

// --- CGeometry ---------------------------------------------------------------------------------

CGeometry::CGeometry() : m_pOwner(this) {}
CGeometry::~CGeometry() = default;

std::shared_ptr<CProperty> CGeometry::GetProperties() {
  auto top = std::make_shared<CPropertyGroup>(m_pOwner, Text(TextId::Root));
  auto inner = std::make_shared<CPropertyGroup>(m_pOwner, GetCaption());
  top->AddChild(inner);
  if (top->GetChildCount() > 0 && top->GetChild(0)->GetKind() == CProperty::eKindGroup)
    for (const auto& p : m_arProperties) inner->AddChild(p);
  return top;
}

std::wstring CGeometry::GetCaption() const { return L"Geometry"; }
const char* CGeometry::GetArchiveTag() const { return "GeometryParameters"; }

std::shared_ptr<CPropertyStandard> CGeometry::AddProperty(const std::wstring& name, int labelId,
                                                          int descriptionId,
                                                          const CVariant& value) {
  auto p = std::make_shared<CPropertyStandard>(m_pOwner, name, labelId, descriptionId, value);
  m_arProperties.push_back(p);
  return p;
}

std::shared_ptr<CPropertyColor> CGeometry::AddColorProperty(const std::wstring& name, int labelId,
                                                            COLORREF color) {
  auto p = std::make_shared<CPropertyColor>(m_pOwner, name, labelId, 0, color);
  m_arProperties.push_back(p);
  return p;
}

std::shared_ptr<CProperty> CGeometry::FindProperty(const std::wstring& name) const {
  for (const auto& p : m_arProperties)
    if (p && p->IsNamed(name)) return p;
  return nullptr;
}

std::shared_ptr<CPropertyStandard> CGeometry::FindStandardProperty(const std::wstring& name) const {
  for (const auto& p : m_arProperties)
    if (p && p->GetKind() == CProperty::eKindStandard && p->IsNamed(name))
      return std::static_pointer_cast<CPropertyStandard>(p);
  return nullptr;
}

std::shared_ptr<CPropertyColor> CGeometry::FindColorProperty(const std::wstring& name) const {
  for (const auto& p : m_arProperties)
    if (p && p->GetKind() == CProperty::eKindColor && p->IsNamed(name))
      return std::static_pointer_cast<CPropertyColor>(p);
  return nullptr;
}

CVariant CGeometry::GetValue(const std::wstring& name) const {
  auto p = FindStandardProperty(name);
  return p ? p->GetValue() : CVariant();
}

void CGeometry::SetValue(const std::wstring& name, const CVariant& value) {
  if (auto p = FindStandardProperty(name)) p->SetValue(value);
}

void CGeometry::SetColor(const std::wstring& name, COLORREF color) {
  if (auto p = FindColorProperty(name)) p->SetColor(color);
}

void CGeometry::SetLabelId(const std::wstring& name, int id) {
  if (auto p = FindStandardProperty(name)) p->SetLabelId(id);
}

void CGeometry::SetColorLabelId(const std::wstring& name, int id) {
  if (auto p = FindColorProperty(name)) p->SetLabelId(id);
}

void CGeometry::SetDescriptionId(const std::wstring& name, int id) {
  if (auto p = FindStandardProperty(name)) p->SetDescriptionId(id);
}

// --- CTreeObject -------------------------------------------------------------------------------

CTreeObject::CTreeObject() : m_matrix(IdentityMatrix12()) {
  AddProperty(L"Name", TextId::Name, 0, CVariant(Text(TextId::NoName)));
}
CTreeObject::~CTreeObject() = default;

void CTreeObject::SetContext(QZ::ObjPtr<ICADContext> context) { m_pContext = std::move(context); }

void CTreeObject::SetMatrix(const double* matrix12) {
  if (!matrix12) return;
  for (int i = 0; i < 12; ++i) m_matrix[i] = matrix12[i];
}

Matrix12 CTreeObject::GetGlobalMatrix() const {
  if (!m_pParent || !m_pContext) return m_matrix;
  const Matrix12 parent = m_pParent->GetGlobalMatrix();
  Matrix12 out{};
  QZ::CAD::IMatrixService* ms = m_pContext->GetMatrixService();
  if (!ms) return m_matrix;
  ms->Multiply(parent.data(), m_matrix.data(), out.data());
  return out;
}

std::wstring CTreeObject::GetName() const {
  try {
    return GetValue(L"Name").ToText();
  } catch (...) {
    return std::wstring();
  }
}

void SetBuildErrorReporter(BuildErrorReporter reporter) { Reporter() = std::move(reporter); }

void ReportBuildError(const std::wstring& message) { Report(message); }

void HoldBuildErrors(std::vector<std::wstring>* into) { t_heldMessages = into; }

bool UpdateReportingErrors(CTreeObject& object, bool* keep) {
  std::exception_ptr error;
  try {
    object.Update();
  } catch (...) {
    error = std::current_exception();
  }
  return ReportBuildFailure(object, error, keep);
}

bool ReportBuildFailure(CTreeObject& object, std::exception_ptr error, bool* keep) {
  if (!error) {
    if (keep) *keep = true;
    return true;
  }
  int messageId = TextId::MsgUnknownError;
  bool kept = false;
  try {
    std::rethrow_exception(error);
  } catch (QZ::IException* e) {
    const int code = e ? e->GetCode() : 0;
    if (e) e->Release();
    switch (code) {
      case QZ::eCodeInvalidParameter:
        messageId = TextId::MsgInvalidParameterIn;
        kept = true;
        break;
      case QZ::eCodeInvalidUse:
        messageId = TextId::MsgInvalidUse;
        kept = true;
        break;
      case QZ::eCodePermission: messageId = TextId::MsgPermissionDenied; break;
      default: messageId = TextId::MsgUnknownError; break;
    }
  } catch (const CComError&) {
    // A parameter whose value does not convert: the user can correct it.
    messageId = TextId::MsgInvalidParameterIn;
    kept = true;
  } catch (...) {
    messageId = TextId::MsgUnknownError;
  }
  if (keep) *keep = kept;
  Report(Message(messageId, object.GetName()));
  return false;
}

// --- CBuildBatch -------------------------------------------------------------------------------

namespace {
thread_local CBuildBatch* t_openBatch = nullptr;

// An error that is not reported (a cancelled batch): the engine's exception objects are owned by
// whoever catches them.
void Drop(std::exception_ptr error) {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (QZ::IException* e) {
    if (e) e->Release();
  } catch (...) {}
}
}  // namespace

CBuildBatch::CBuildBatch(const QZ::ObjPtr<ICADContext>& context) {
  try {
    m_threads = context ? context->GetBuildThreads() : 0;
  } catch (QZ::IException* e) {
    if (e) e->Release();
    m_threads = 0;
  }
  if (m_threads <= 0) {
    m_threads = 0;
    m_finished = true;
    return;
  }
  m_previous = t_openBatch;
  t_openBatch = this;
}

CBuildBatch::~CBuildBatch() {
  if (!m_finished) {
    try {
      Finish();
    } catch (...) {}
  }
  if (t_openBatch == this) t_openBatch = m_previous;
}

CBuildBatch* CBuildBatch::Current() { return t_openBatch; }

void CBuildBatch::Add(CNode& group, std::shared_ptr<CTreeObject> leaf) {
  Entry e;
  e.group = &group;
  e.leaf = std::move(leaf);
  m_entries.push_back(std::move(e));
  ++m_builds;
}

void CBuildBatch::WhenLeftOut(std::function<void()> leftOut) {
  for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
    if (it->leaf) {
      it->leftOut = std::move(leftOut);
      return;
    }
}

void CBuildBatch::Then(std::function<void()> step) {
  Entry e;
  e.step = std::move(step);
  m_entries.push_back(std::move(e));
}

bool CBuildBatch::Finish(const Progress& progress) {
  if (m_finished) return true;
  m_finished = true;
  if (t_openBatch == this) t_openBatch = m_previous;
  // The units of work: a leaf, or every leaf of one shaft (in order).
  std::vector<std::vector<size_t>> units;
  std::unordered_map<CNode*, size_t> shaftUnit;
  for (size_t i = 0; i < m_entries.size(); ++i) {
    const Entry& e = m_entries[i];
    if (!e.leaf) continue;
    if (e.group && e.group->GetType() == eTypeShaft) {
      auto [it, added] = shaftUnit.emplace(e.group, units.size());
      if (added) units.emplace_back();
      units[it->second].push_back(i);
    } else {
      units.push_back({i});
    }
  }
  std::vector<std::exception_ptr> errors(m_entries.size());
  std::atomic<size_t> next{0};
  std::atomic<int> done{0};
  std::atomic<bool> stop{false};
  auto work = [&] {
    for (;;) {
      if (stop) return;
      const size_t u = next++;
      if (u >= units.size()) return;
      for (size_t i : units[u]) {
        try {
          m_entries[i].leaf->Update();
        } catch (...) {
          errors[i] = std::current_exception();
        }
        ++done;
      }
    }
  };
  const size_t threads = std::min(units.size(), static_cast<size_t>(m_threads));
  auto report = [&]() -> bool {
    try {
      return progress(done, static_cast<int>(m_builds));
    } catch (...) {
      return false;
    }
  };
  if (progress && !report()) stop = true;  // asked once before the first build starts
  if (stop) {
    // Cancelled before the first build.
  } else if (threads <= 1 && !progress) {
    work();
  } else {
    std::mutex lock;
    std::condition_variable ended;
    size_t running = threads;
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; ++t)
      pool.emplace_back([&] {
        work();
        std::lock_guard<std::mutex> hold(lock);
        --running;
        ended.notify_all();
      });
    {
      std::unique_lock<std::mutex> hold(lock);
      while (running > 0) {
        ended.wait_for(hold, std::chrono::milliseconds(100));
        if (progress && !stop) {
          hold.unlock();
          if (!report()) stop = true;
          hold.lock();
        }
      }
    }
    for (auto& t : pool) t.join();
  }
  if (stop) {
    for (auto& error : errors) Drop(error);
    m_entries.clear();
    return false;
  }
  if (progress) report();  // all built
  // The reports, in order, as each leaf would have given them when it was added.
  for (size_t i = 0; i < m_entries.size(); ++i) {
    Entry& e = m_entries[i];
    if (!e.leaf) {
      if (e.step) e.step();
      continue;
    }
    bool keep = true;
    if (!ReportBuildFailure(*e.leaf, errors[i], &keep) && !keep) {
      if (e.group) e.group->RemoveChild(e.leaf.get());
      e.leaf->SetParent(nullptr);
      if (e.leftOut) e.leftOut();
    }
  }
  m_entries.clear();
  return true;
}

// --- CNode -------------------------------------------------------------------------------------

CNode::CNode() = default;
CNode::~CNode() = default;

bool CNode::Update() {
  std::exception_ptr first;
  for (const auto& child : m_arChildren) {
    if (!child) continue;
    try {
      child->Update();
    } catch (QZ::IException* e) {
      // Engine errors are thrown by pointer and owned by their catcher: keep the first, release
      // the others.
      if (!first)
        first = std::make_exception_ptr(e);
      else if (e)
        e->Release();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
  return true;
}

std::wstring CNode::GetCaption() const { return Text(TextId::Node); }

bool CNode::AddChild(std::shared_ptr<CTreeObject> child) {
  if (!child || child.get() == this) return false;
  child->SetContext(m_pContext);
  child->SetParent(this);
  if (!child->IsNode()) {
    if (CBuildBatch* batch = CBuildBatch::Current()) {
      // Built with the others when the batch finishes; taken out again there if need be.
      m_arChildren.push_back(child);
      batch->Add(*this, std::move(child));
      return true;
    }
    bool keep = true;
    if (!UpdateReportingErrors(*child, &keep) && !keep) {
      child->SetParent(nullptr);
      return false;
    }
  }
  m_arChildren.push_back(std::move(child));
  return true;
}

bool CNode::RemoveChild(CTreeObject* child) {
  for (auto it = m_arChildren.begin(); it != m_arChildren.end(); ++it) {
    if (it->get() == child) {
      if (child->GetParent() == this) child->SetParent(nullptr);
      m_arChildren.erase(it);
      return true;
    }
  }
  return false;
}

std::shared_ptr<CTreeObject> CNode::GetChild(int index) const {
  if (index < 0 || index >= GetChildCount()) return nullptr;
  return m_arChildren[static_cast<size_t>(index)];
}

void CNode::ExportToAssembly(QZ::CAD::IAssembly* assembly) {
  if (!assembly) return;
  for (const auto& child : m_arChildren) {
    if (!child) continue;
    const std::string name = MorlaneText::ToUtf8(child->GetName());
    if (child->IsNode()) {
      QZ::ObjPtr<QZ::CAD::IAssembly> sub(assembly->AddAssembly());
      if (!sub) continue;
      sub->SetName(name.c_str());
      static_cast<CNode&>(*child).ExportToAssembly(sub.Get());
      continue;
    }
    auto& leaf = static_cast<CObject3D&>(*child);
    QZ::ObjPtr<QZ::CAD::IShape> shape = leaf.GetShape();
    if (!shape) continue;
    QZ::ObjPtr<QZ::CAD::IPart> part(assembly->AddShape(shape.Get()));
    if (!part) continue;
    part->SetName(name.c_str());
    const auto rgb = leaf.GetColorRGB();
    part->SetColor(rgb[0], rgb[1], rgb[2]);
  }
}

COLORREF ColorFromRGB(const double* rgb) {
  COLORREF c = 0;
  for (int i = 0; i < 3; ++i) {
    const double v = rgb[i] * 255.0;
    const auto byte =
        std::isfinite(v) ? static_cast<COLORREF>(static_cast<long long>(v) & 0xFF) : 0u;
    c |= byte << (8 * i);
  }
  return c;
}

IPartRecogniser::~IPartRecogniser() = default;

void CNode::ImportItem(QZ::CAD::IItem* item, const IPartRecogniser* recogniser,
                       RecognitionList& recognized) {
  if (!item) return;
  std::wstring name;
  try {
    if (QZ::ObjPtr<QZ::CAD::IItemInfo> info{item->GetInfo()})
      name = MorlaneText::FromUtf8(info->GetName() ? info->GetName() : "");
    Matrix12 matrix = IdentityMatrix12();
    item->GetMatrix(matrix.data());
    if (item->IsAssembly()) {
      auto node = std::make_shared<CNode>();
      if (!name.empty()) node->SetValue(L"Name", CVariant(name));
      node->SetMatrix(matrix.data());
      if (!AddChild(node)) return;
      auto* assembly = dynamic_cast<QZ::CAD::IAssembly*>(item);
      const int count = assembly ? assembly->GetChildCount() : 0;
      for (int i = 0; i < count; ++i) {
        QZ::ObjPtr<QZ::CAD::IItem> child(assembly->GetChild(i));
        node->ImportItem(child.Get(), recogniser, recognized);
      }
      return;
    }
    auto* part = dynamic_cast<QZ::CAD::IPart*>(item);
    if (!part) return;
    if (recogniser) {
      QZ::ObjPtr<QZ::CAD::IRecognizeShaft> result;
      std::shared_ptr<CTreeObject> recognised =
          recogniser->RecognizePart(m_pContext.Get(), part, *this, result);
      recognized.push_back(result);
      if (recognised) return;
    }
    auto leaf = std::make_shared<CObject3D>();
    if (!name.empty()) leaf->SetValue(L"Name", CVariant(name));
    double rgb[3];
    if (part->GetColor(rgb)) leaf->SetColor(L"Color", ColorFromRGB(rgb));
    leaf->SetShape(QZ::ObjPtr<QZ::CAD::IShape>(part->GetShape()));
    leaf->SetMatrix(matrix.data());
    AddChild(leaf);  // places the solid; its errors are reported there
  } catch (QZ::IException* e) {
    if (e) e->Release();
    Report(Message(TextId::MsgUnknownError, name));
  } catch (...) {
    Report(Message(TextId::MsgUnknownError, name));
  }
}

void CNode::AppendCopy(CTreeObject* source, const IPartRecogniser* recogniser,
                       RecognitionList& recognized, RecognizeState* state) {
  if (!source || source == this) return;
  const std::wstring name = source->GetName();
  try {
    if (source->IsNode()) {
      auto node = std::make_shared<CNode>();
      if (!name.empty()) node->SetValue(L"Name", CVariant(name));
      if (!AddChild(node)) return;
      for (const auto& child : static_cast<CNode&>(*source).GetChildren())
        node->AppendCopy(child.get(), recogniser, recognized, state);
      return;
    }
    auto& from = static_cast<CObject3D&>(*source);
    if (state) *state = eRecognizeNoneAtZero;
    if (recogniser) {
      QZ::ObjPtr<QZ::CAD::IRecognizeShaft> result;
      std::shared_ptr<CTreeObject> recognised =
          recogniser->RecognizeLeaf(m_pContext.Get(), from, *this, result, state);
      recognized.push_back(result);
      if (recognised) return;
    }
    auto leaf = std::make_shared<CObject3D>();
    if (!name.empty()) leaf->SetValue(L"Name", CVariant(name));
    if (auto color = from.FindColorProperty(L"Color")) leaf->SetColor(L"Color", color->GetColor());
    leaf->SetShape(from.GetShape());
    const Matrix12 global = from.GetGlobalMatrix();
    leaf->SetMatrix(global.data());
    AddChild(leaf);
  } catch (QZ::IException* e) {
    if (e) e->Release();
    Report(Message(TextId::MsgUnknownError, name));
  } catch (...) {
    Report(Message(TextId::MsgUnknownError, name));
  }
}

// --- CHeader, CNodeRoot ------------------------------------------------------------------------

const std::vector<std::wstring>& HeaderPropertyNames() {
  static const std::vector<std::wstring> names = {L"FileDescription", L"FileName", L"Author",
                                                  L"Organization", L"Authorisation"};
  return names;
}

namespace {
void AddHeaderProperties(CGeometry& g, const std::function<void(const std::wstring&, int)>& add) {
  int label = TextId::FileDescription;
  for (const auto& name : HeaderPropertyNames()) add(name, label++);
}
}  // namespace

CHeader::CHeader(CGeometry* owner) {
  if (owner) m_pOwner = owner;
  AddHeaderProperties(*this, [&](const std::wstring& name, int label) {
    AddProperty(name, label, 0, CVariant(L""));
  });
}

std::wstring CHeader::GetCaption() const { return L"Header"; }

CNodeRoot::CNodeRoot() : m_pHeader(std::make_shared<CHeader>(this)) {
  AddHeaderProperties(*this, [&](const std::wstring& name, int label) {
    AddProperty(name, label, 0, CVariant(L""));
  });
}
CNodeRoot::~CNodeRoot() = default;

std::wstring CNodeRoot::GetCaption() const { return Text(TextId::Root); }

// --- CObject3D ---------------------------------------------------------------------------------

CObject3D::CObject3D() { AddColorProperty(L"Color", TextId::Color, kDefaultObjectColor); }
CObject3D::~CObject3D() = default;

bool CObject3D::Update() {
  BuildShape();
  if (m_pShape) {
    try {
      const Matrix12 global = GetGlobalMatrix();
      m_pShape = QZ::ObjPtr<QZ::CAD::IShape>(m_pShape->Placed(global.data()));
    } catch (...) {
      // A solid that cannot be placed is not kept at a wrong place.
      m_pShape = nullptr;
      throw;
    }
  }
  return true;
}

std::wstring CObject3D::GetCaption() const { return Text(TextId::Object3D); }

std::array<double, 3> CObject3D::GetColorRGB() const {
  auto p = FindColorProperty(L"Color");
  const COLORREF c = p ? p->GetColor() : kDefaultObjectColor;
  return {(c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0};
}
