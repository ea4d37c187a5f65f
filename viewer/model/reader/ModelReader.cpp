#include "model/reader/ModelReader.h"

#include "model/elements/Catalogue.h"
#include "model/elements/Gears.h"
#include "model/elements/Shafts.h"
#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "xml/XmlText.h"

#include <fcntl.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>

namespace {

const wchar_t* const kToothProfileTypes[] = {
    L"GearExternalToothProfile", L"GearInternalToothProfile", L"GearDoubleExternalToothProfile",
    L"GearDoubleInternalToothProfile"};

bool TagIs(const XMLNode* node, const wchar_t* tag) {
  return node && MorlaneText::EqualsNoCase(node->GetTag(), tag);
}

// True when the text reads as a number that is not finite in the C locale ("nan", "inf",
// "1e400"); such texts would otherwise become a silent 0 or poison the engine.
bool NonFiniteNumber(const std::wstring& text) {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  std::string ascii;
  for (wchar_t ch : text) {
    if (ch > 0x7F) break;
    ascii.push_back(static_cast<char>(ch));
  }
  if (!c) return false;
  char* end = nullptr;
  const double v = strtod_l(ascii.c_str(), &end, c);
  return end != ascii.c_str() && !std::isfinite(v);
}

void NoteEntry(ModelReadReport* report, const std::wstring& type, const std::wstring& name,
               const std::wstring& message) {
  if (!report) return;
  if (report->entries.size() >= ModelReadReport::kMaxEntries) {
    ++report->messagesDropped;
    return;
  }
  report->entries.push_back({type, name, message});
}

// A note of the report and, with tell, a message; while the solids are built together, both
// wait for their place among the build messages (so that they come in the order of the file).
void Note(ModelReadReport* report, XMLNode* element, const std::wstring& message,
          bool tell = false) {
  std::wstring type = element ? element->GetStrAttr(L"Type", std::wstring()) : L"";
  std::wstring name = element ? element->GetStrAttr(L"Name", std::wstring()) : L"";
  auto step = [report, type = std::move(type), name = std::move(name), message, tell] {
    NoteEntry(report, type, name, message);
    if (tell) ReportBuildError(message);
  };
  if (CBuildBatch* batch = CBuildBatch::Current())
    batch->Then(std::move(step));
  else
    step();
}

void Tell(ModelReadReport* report, XMLNode* element, const std::wstring& message) {
  Note(report, element, message, true);
}

std::wstring Describe(XMLNode* element) {
  std::wstring type = element->GetStrAttr(L"Type", std::wstring());
  std::wstring name = element->GetStrAttr(L"Name", std::wstring());
  return L"Object \"" + name + L"\" of type \"" + type + L"\"";
}

// Sets the object's placement from its MatrixTransform, if it has one; refuses a matrix that
// is not finite.
void PlaceFrom(XMLNode* element, CTreeObject& object) {
  XMLNode* matrix = element->GetChild(L"MatrixTransform");
  if (!matrix) return;
  const Matrix12 m = ReadMatrix(matrix);
  for (double v : m)
    if (!std::isfinite(v)) throw ModelValueError{L"its placement matrix is not finite"};
  object.SetMatrix(m.data());
}

}  // namespace

void ReadParam(XMLNode* param, CPropertyStandard* property) {
  if (!param || !property) return;
  const std::wstring text = param->GetTagValue();
  const auto kind = property->GetValue().Type();
  if ((kind == VT_R8 || kind == VT_INT || kind == VT_UINT) && NonFiniteNumber(text))
    throw ModelValueError{L"the value \"" + text + L"\" of " + property->GetName() +
                          L" is not a finite number"};
  property->SetValueFromText(text);
  property->SetDescription(param->GetStrAttr(L"Description", std::wstring()));
  // The ends of a shaft section are labelled as chamfers or roundings by their sign.
  property->UpdateEndLabels(MorlaneText::ParseDoublePrefix(text));
}

void ReadGeometryParameters(XMLNode* element, CGeometry& object) {
  XMLNode* params = element ? element->GetChild(L"GeometryParameters") : nullptr;
  if (!params) return;
  const int n = params->GetChildCount();
  for (int i = 0; i < n; ++i) {
    XMLNode* param = params->GetChild(i);
    if (!TagIs(param, L"Param")) continue;
    std::shared_ptr<CPropertyStandard> property =
        object.FindStandardProperty(param->GetStrAttr(L"Name", std::wstring()));
    if (!property) continue;
    try {
      ReadParam(param, property.get());
    } catch (const ModelValueError&) {
      throw;
    } catch (...) {
      // A value that does not convert keeps the parameter as it was.
    }
  }
}

void ReadToothProfile(XMLNode* element, CGearToothProfile& profile) {
  XMLNode* points = element ? element->GetChild(L"ToothProfile") : nullptr;
  if (!points) return;
  const int n = points->GetChildCount();
  for (int i = 0; i < n; ++i) {
    XMLNode* point = points->GetChild(i);
    if (!TagIs(point, L"PointCircle")) continue;
    std::shared_ptr<CPointCircle> p = profile.AddPoint();
    if (p) ReadGeometryParameters(point, *p);
  }
}

void ReadGrooveObjects(XMLNode* element, CShaftSection& section) {
  if (!element) return;
  const int n = element->GetChildCount();
  for (int i = 0; i < n; ++i) {
    XMLNode* child = element->GetChild(i);
    if (!TagIs(child, L"GrooveObject")) continue;
    std::shared_ptr<CGrooveObject3D> groove =
        section.AddGroove(child->GetStrAttr(L"Type", std::wstring()));
    if (groove) ReadGeometryParameters(child, *groove);
  }
}

Matrix12 ReadMatrix(XMLNode* matrix) {
  Matrix12 m = IdentityMatrix12();
  if (!matrix) return m;
  const int n = matrix->GetChildCount();
  for (int i = 0; i < n; ++i) {
    XMLNode* e = matrix->GetChild(i);
    if (!TagIs(e, L"Element")) continue;
    const int col = e->GetIntAttr(L"Col", 0);
    const int row = e->GetIntAttr(L"Row", 0);
    if (col < 1 || col > 4 || row < 1 || row > 3) continue;
    const std::wstring text = e->GetTagValue();
    m[static_cast<size_t>((row - 1) * 4 + (col - 1))] =
        NonFiniteNumber(text) ? NAN : MorlaneText::ParseDoublePrefix(text);
  }
  return m;
}

std::shared_ptr<CTreeObject> CreateObject(XMLNode* element) {
  if (!element) return nullptr;
  const std::wstring type = element->GetStrAttr(L"Type", std::wstring());
  std::shared_ptr<CObject3D> object = CreateElement(type);
  if (!object) return nullptr;
  ReadGeometryParameters(element, *object);
  for (const wchar_t* profileType : kToothProfileTypes)
    if (MorlaneText::EqualsNoCase(type, profileType))
      if (auto* profile = dynamic_cast<CGearToothProfile*>(object.get()))
        ReadToothProfile(element, *profile);
  if (MorlaneText::EqualsNoCase(type, L"ShaftSection"))
    if (auto* section = dynamic_cast<CShaftSection*>(object.get()))
      ReadGrooveObjects(element, *section);
  return object;
}

void ReadHeader(XMLNode* header, CNodeRoot& root) {
  if (!header || !root.GetHeader()) return;
  const int n = header->GetChildCount();
  for (int i = 0; i < n; ++i) {
    XMLNode* field = header->GetChild(i);
    if (!field) continue;
    const std::wstring tag = field->GetTag();
    for (const std::wstring& name : HeaderPropertyNames()) {
      if (!MorlaneText::EqualsNoCase(tag, name)) continue;
      try {
        ReadParam(field, root.GetHeader()->FindStandardProperty(name).get());
      } catch (...) {
        // Header texts take any text; nothing else can fail here.
      }
    }
  }
}

void ReadData(XMLNode* element, CNode& group, ModelReadReport* report) {
  // Depth first without recursion: the XML layer bounds the nesting, the stack here never
  // grows with it.
  struct Frame {
    XMLNode* element;
    CNode* group;
    int next;
  };
  std::vector<Frame> stack{{element, &group, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (!top.element || top.next >= top.element->GetChildCount()) {
      stack.pop_back();
      continue;
    }
    XMLNode* child = top.element->GetChild(top.next++);
    CNode* parent = top.group;
    if (TagIs(child, L"Object")) {
      std::shared_ptr<CTreeObject> object;
      try {
        object = CreateObject(child);
        if (!object) {
          if (report) ++report->objectsSkipped;
          continue;
        }
        // A shaft section belongs to a shaft only.
        if (object->GetType() == eTypeShaftSection && parent->GetType() != eTypeShaft) {
          if (report) ++report->objectsSkipped;
          continue;
        }
        object->SetValue(L"Name", CVariant(child->GetStrAttr(L"Name", std::wstring())));
        object->SetColor(L"Color", child->GetColorAttr(L"Color", kDefaultObjectColor));
        PlaceFrom(child, *object);
      } catch (const ModelValueError& e) {
        Tell(report, child, Describe(child) + L": " + e.message + L"; the object is left out");
        if (report) ++report->objectsSkipped;
        continue;
      } catch (const std::exception& e) {
        Tell(report, child,
             Describe(child) + L": " + MorlaneText::FromUtf8(e.what()) +
                 L"; the object is left out");
        if (report) ++report->objectsSkipped;
        continue;
      }
      if (parent->AddChild(object)) {
        if (report) ++report->objectsRead;
        if (CBuildBatch* batch = CBuildBatch::Current()) {
          // Built when the file is read: a leaf left out then counts as skipped.
          std::wstring type = child->GetStrAttr(L"Type", std::wstring());
          std::wstring name = child->GetStrAttr(L"Name", std::wstring());
          std::wstring message = Describe(child) + L": its solid could not be built";
          batch->WhenLeftOut([report, type, name, message] {
            if (!report) return;
            --report->objectsRead;
            ++report->objectsSkipped;
            NoteEntry(report, type, name, message);
          });
        }
      } else {
        Note(report, child, Describe(child) + L": its solid could not be built");
        if (report) ++report->objectsSkipped;
      }
    } else if (TagIs(child, L"Node")) {
      std::shared_ptr<CNode> node;
      if (MorlaneText::EqualsNoCase(child->GetStrAttr(L"Type", std::wstring()), L"Shaft"))
        node = std::make_shared<CShaft>();
      else
        node = std::make_shared<CNode>();
      node->SetValue(L"Name", CVariant(child->GetStrAttr(L"Name", std::wstring())));
      try {
        PlaceFrom(child, *node);
      } catch (const ModelValueError& e) {
        Tell(report, child,
             L"Node \"" + child->GetStrAttr(L"Name", std::wstring()) + L"\": " + e.message +
                 L"; it stays in place");
      }
      parent->AddChild(node);
      stack.push_back({child, node.get(), 0});  // top is no longer valid from here
    }
  }
}

namespace {

ModelReadResult Outcome(ModelReadError reason, const std::wstring& path, std::wstring detail = {}) {
  ModelReadResult r;
  r.reason = reason;
  r.path = path;
  r.detail = std::move(detail);
  return r;
}

// Whether the file at path can be opened for reading as a plain file, and if not why (the XML
// layer only says that it could not load it).
ModelReadResult ProbeFile(const std::wstring& path) {
  const std::string narrow = MorlaneText::ToUtf8(path);
  struct stat st;
  if (narrow.empty() || ::stat(narrow.c_str(), &st) != 0) {
    if (!narrow.empty() && errno != ENOENT && errno != ENOTDIR)
      return Outcome(ModelReadError::Unreadable, path, MorlaneText::FromUtf8(std::strerror(errno)));
    return Outcome(ModelReadError::Missing, path);
  }
  if (!S_ISREG(st.st_mode)) return Outcome(ModelReadError::NotAFile, path);
  const int fd = ::open(narrow.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Outcome(ModelReadError::Missing, path);
    return Outcome(ModelReadError::Unreadable, path, MorlaneText::FromUtf8(std::strerror(errno)));
  }
  ::close(fd);
  return Outcome(ModelReadError::None, path);
}

}  // namespace

const wchar_t* ModelReadErrorName(ModelReadError reason) {
  switch (reason) {
    case ModelReadError::None: return L"read";
    case ModelReadError::NoRoot: return L"no-root";
    case ModelReadError::Missing: return L"missing";
    case ModelReadError::NotAFile: return L"not-a-file";
    case ModelReadError::Unreadable: return L"unreadable";
    case ModelReadError::NotWellFormed: return L"not-well-formed";
    case ModelReadError::NotAModel: return L"not-a-model";
    case ModelReadError::Cancelled: return L"cancelled";
    case ModelReadError::Failed: return L"failed";
  }
  return L"failed";
}

std::wstring ModelReadResult::Text() const {
  std::wstring what;
  switch (reason) {
    case ModelReadError::None: return {};
    case ModelReadError::NoRoot: what = L"no model to read into"; break;
    case ModelReadError::Missing: what = L"no such file"; break;
    case ModelReadError::NotAFile: what = L"not a file"; break;
    case ModelReadError::Unreadable: what = L"cannot be opened for reading"; break;
    case ModelReadError::NotWellFormed:
      what = L"not well-formed XML";
      if (line > 0)
        what += L" (line " + std::to_wstring(line) + L", column " + std::to_wstring(column) + L")";
      break;
    case ModelReadError::NotAModel: what = L"not a model file: its root element is"; break;
    case ModelReadError::Cancelled: what = L"reading cancelled"; break;
    case ModelReadError::Failed: what = L"reading failed"; break;
  }
  std::wstring text = path.empty() ? what : path + L": " + what;
  if (reason == ModelReadError::NotAModel)
    text += detail.empty() ? L" missing" : L" " + detail;
  else if (!detail.empty())
    text += L": " + detail;
  return text;
}

ModelReadResult ReadModelFile(const std::wstring& path, const std::shared_ptr<CNodeRoot>& root,
                              ModelReadReport* report, const CBuildBatch::Progress& progress) {
  if (!root) return Outcome(ModelReadError::NoRoot, path);
  ModelReadResult probe = ProbeFile(path);
  if (!probe) return probe;
  const int before = root->GetChildCount();
  // Nothing of the file stays when the reading does not end.
  auto undo = [&] {
    while (root->GetChildCount() > before) {
      std::shared_ptr<CTreeObject> last = root->GetChild(root->GetChildCount() - 1);
      root->RemoveChild(last.get());
    }
  };
  try {
    XMLDocument document(path.c_str());
    XMLNode* model = document.GetRootElement();
    if (!model) {
      // Gone or changed since it was looked at: that is the reason then.
      ModelReadResult again = ProbeFile(path);
      if (!again) return again;
      ModelReadResult r = Outcome(ModelReadError::NotWellFormed, path);
      CParsePoint at, unused;
      document.GetParsingErrorInformation(r.detail, at, unused, nullptr);
      r.line = at.GetLineNumber();
      r.column = at.GetLineIndex();
      return r;
    }
    if (!MorlaneText::EqualsNoCase(model->GetTag(), L"Model"))
      return Outcome(ModelReadError::NotAModel, path, model->GetTag());
    if (XMLNode* data = model->GetChild(L"Data")) {
      CBuildBatch batch(root->GetContext());
      ReadData(data, *root, report);
      if (!batch.Finish(progress)) {
        undo();
        return Outcome(ModelReadError::Cancelled, path);
      }
    }
    // The header last, so that a reading that does not end leaves the root's texts alone.
    if (XMLNode* header = model->GetChild(L"Header")) ReadHeader(header, *root);
  } catch (const std::exception& e) {
    undo();
    return Outcome(ModelReadError::Failed, path, MorlaneText::FromUtf8(e.what()));
  }
  return Outcome(ModelReadError::None, path);
}
