// STEP exchange: the checks that run before the kernel's reader, reading with header texts,
// writing with names, colours and header texts.
#include "ExchangeCommon.h"

#include <APIHeaderSection_MakeHeader.hxx>
#include <Interface_Check.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <STEPControl_Reader.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepData_StepModel.hxx>
#include <StepRepr_HArray1OfRepresentationItem.hxx>
#include <StepRepr_MappedItem.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <StepRepr_Representation.hxx>
#include <StepRepr_RepresentationMap.hxx>
#include <StepRepr_RepresentationRelationship.hxx>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <unordered_map>
#include <vector>

namespace cad_engine {

namespace {

// Assembly links and shape-representation links of a STEP model must form no cycle: the
// kernel's transfer follows them recursively and would never end.
using Graph = std::unordered_map<const Standard_Transient*, std::vector<const Standard_Transient*>>;

// Iterative depth-first search with three colours.
bool GraphHasCycle(const Graph& edges) {
  std::unordered_map<const Standard_Transient*, int> state;  // 0 new, 1 on stack, 2 done
  for (const auto& [start, _] : edges) {
    if (state[start] != 0) continue;
    std::vector<std::pair<const Standard_Transient*, size_t>> stack{{start, 0}};
    state[start] = 1;
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      auto it = edges.find(node);
      if (it == edges.end() || next >= it->second.size()) {
        state[node] = 2;
        stack.pop_back();
        continue;
      }
      const Standard_Transient* child = it->second[next++];
      int& s = state[child];
      if (s == 1) return true;
      if (s == 0) {
        s = 1;
        stack.emplace_back(child, 0);
      }
    }
  }
  return false;
}

// Entities the reader could not read as written (unresolved references, values of the wrong
// type): the kernel's transfer follows such references without checking them, so a file holding
// any is refused as a whole.
bool HasBrokenEntity(const Handle(StepData_StepModel) & model) {
  const int n = model->NbEntities();
  for (int i = 1; i <= n; ++i) {
    if (model->IsErrorEntity(i)) return true;
  }
  const Handle(Interface_Check)& global = model->GlobalCheck();
  return !global.IsNull() && global->HasFailed();
}

bool HasReferenceCycle(const Handle(StepData_StepModel) & model) {
  // Each kind of link separately: assemblies, representation relationships, mapped items.
  Graph assemblies, relations, mappings;
  const int n = model->NbEntities();
  for (int i = 1; i <= n; ++i) {
    const Handle(Standard_Transient)& e = model->Value(i);
    if (auto nauo = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(e)) {
      auto a = nauo->RelatingProductDefinition();
      auto b = nauo->RelatedProductDefinition();
      if (!a.IsNull() && !b.IsNull()) assemblies[a.get()].push_back(b.get());
    } else if (auto rel = Handle(StepRepr_RepresentationRelationship)::DownCast(e)) {
      auto a = rel->Rep1();
      auto b = rel->Rep2();
      if (!a.IsNull() && !b.IsNull()) relations[a.get()].push_back(b.get());
    } else if (auto rep = Handle(StepRepr_Representation)::DownCast(e)) {
      auto items = rep->Items();
      if (items.IsNull()) continue;
      for (int k = items->Lower(); k <= items->Upper(); ++k) {
        auto mapped = Handle(StepRepr_MappedItem)::DownCast(items->Value(k));
        if (mapped.IsNull() || mapped->MappingSource().IsNull()) continue;
        auto target = mapped->MappingSource()->MappedRepresentation();
        if (!target.IsNull()) mappings[rep.get()].push_back(target.get());
      }
    }
  }
  return GraphHasCycle(assemblies) || GraphHasCycle(relations) || GraphHasCycle(mappings);
}

// The instances of a STEP file as written: every reference must name an instance of the file,
// and following references must never lead back to where it started. The kernel's reader
// trusts both (a dangling reference or a loop of references crashes its transfer), so files
// that break either are refused before it sees them.
bool StepReferencesSound(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff fileSize = in.tellg();
  if (fileSize <= 0) return false;
  in.seekg(0);
  std::string text(static_cast<size_t>(fileSize), '\0');
  if (!in.read(text.data(), fileSize)) return false;
  const size_t data = text.find("DATA;");
  if (data == std::string::npos) return false;

  std::vector<uint64_t> ids;        // instance ids, in file order
  std::vector<uint64_t> refs;       // all references, grouped by instance
  std::vector<size_t> firstRef{0};  // refs of instance k: [firstRef[k], firstRef[k+1])
  const size_t n = text.size();
  size_t i = data + 5;
  while (i < n) {
    // Start of a statement: skip blanks and comments.
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i + 1 < n && text[i] == '/' && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) return false;
      i = end + 2;
      continue;
    }
    if (i >= n) break;
    bool isInstance = false;
    uint64_t id = 0;
    if (text[i] == '#') {
      size_t j = i + 1;
      while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
        id = id * 10 + (text[j++] - '0');
      while (j < n && std::isspace(static_cast<unsigned char>(text[j]))) ++j;
      if (j < n && text[j] == '=') {
        isInstance = true;
        i = j + 1;
      }
    }
    // The statement's body up to its ';', outside strings and comments.
    const size_t refStart = refs.size();
    bool ended = false;
    while (i < n) {
      const char c = text[i];
      if (c == '\'') {
        ++i;
        while (i < n) {
          if (text[i] == '\'') {
            if (i + 1 < n && text[i + 1] == '\'') {
              i += 2;
              continue;
            }
            break;
          }
          ++i;
        }
        if (i >= n) return false;  // an open string
        ++i;
      } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
        const size_t end = text.find("*/", i + 2);
        if (end == std::string::npos) return false;
        i = end + 2;
      } else if (c == '#') {
        uint64_t r = 0;
        size_t j = i + 1;
        while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
          r = r * 10 + (text[j++] - '0');
        if (j > i + 1 && isInstance) refs.push_back(r);
        i = j;
      } else if (c == ';') {
        ++i;
        ended = true;
        break;
      } else {
        ++i;
      }
    }
    if (!ended) return false;  // cut off in the middle of a statement
    if (isInstance) {
      ids.push_back(id);
      firstRef.push_back(refs.size());
    } else {
      refs.resize(refStart);
      // "ENDSEC;" ends the data section; what follows are other sections or the end.
    }
  }

  // Ids are usually numbered densely from 1: index them by a table then, by a map otherwise.
  constexpr uint32_t kNone = ~0u;
  const uint64_t maxId = ids.empty() ? 0 : *std::max_element(ids.begin(), ids.end());
  std::vector<uint32_t> target(refs.size());
  if (maxId <= 4 * ids.size() + 1024) {
    std::vector<uint32_t> table(maxId + 1, kNone);
    for (uint32_t k = 0; k < ids.size(); ++k) {
      if (table[ids[k]] != kNone) return false;  // an id defined twice
      table[ids[k]] = k;
    }
    for (size_t k = 0; k < refs.size(); ++k) {
      if (refs[k] > maxId || table[refs[k]] == kNone) return false;  // a dangling reference
      target[k] = table[refs[k]];
    }
  } else {
    std::unordered_map<uint64_t, uint32_t> index;
    index.reserve(ids.size() * 2);
    for (uint32_t k = 0; k < ids.size(); ++k)
      if (!index.emplace(ids[k], k).second) return false;
    for (size_t k = 0; k < refs.size(); ++k) {
      auto it = index.find(refs[k]);
      if (it == index.end()) return false;
      target[k] = it->second;
    }
  }
  // Loops of references: iterative depth-first search with three colours.
  std::vector<uint8_t> colour(ids.size(), 0);
  std::vector<std::pair<uint32_t, size_t>> stack;
  for (uint32_t start = 0; start < ids.size(); ++start) {
    if (colour[start]) continue;
    colour[start] = 1;
    stack.emplace_back(start, firstRef[start]);
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      if (next == firstRef[node + 1]) {
        colour[node] = 2;
        stack.pop_back();
        continue;
      }
      const uint32_t child = target[next++];
      if (colour[child] == 1) return false;
      if (colour[child] == 0) {
        colour[child] = 1;
        stack.emplace_back(child, firstRef[child]);
      }
    }
  }
  return true;
}

}  // namespace

bool WriteSTEP(const DocState& state, const HeaderTexts& header, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  STEPCAFControl_Writer writer;
  writer.SetColorMode(true);
  writer.SetNameMode(true);
  writer.SetLayerMode(false);
  if (!writer.Transfer(state.doc, STEPControl_AsIs)) return false;
  APIHeaderSection_MakeHeader h(writer.ChangeWriter().Model());
  h.SetName(Ascii(header.fileName));
  h.SetDescriptionValue(1, Ascii(header.fileDescription));
  h.SetAuthorValue(1, Ascii(header.author));
  h.SetOrganizationValue(1, Ascii(header.organization));
  h.SetAuthorisation(Ascii(header.authorisation));
  return writer.Write(path.c_str()) == IFSelect_RetDone;
}

std::shared_ptr<DocState> ReadSTEP(const std::string& path, HeaderTexts& header) {
  InitExchange();
  if (!FileReadable(path)) return nullptr;
  if (!StepReferencesSound(path)) return nullptr;
  // The header is taken while the reader still holds its model (it goes with the reader).
  HeaderTexts read;
  auto state = ReadDocument<STEPCAFControl_Reader>(path, [&](STEPCAFControl_Reader& reader) {
    Handle(StepData_StepModel) model = reader.ChangeReader().StepModel();
    if (model.IsNull() || HasBrokenEntity(model) || HasReferenceCycle(model)) return false;
    APIHeaderSection_MakeHeader h(model);
    read.fileName = Text(h.Name());
    read.fileDescription = h.NbDescription() > 0 ? Text(h.DescriptionValue(1)) : std::string();
    read.author = h.NbAuthor() > 0 ? Text(h.AuthorValue(1)) : std::string();
    read.organization = h.NbOrganization() > 0 ? Text(h.OrganizationValue(1)) : std::string();
    read.authorisation = Text(h.Authorisation());
    return true;
  });
  if (!state) return nullptr;
  header = read;
  return state;
}

}  // namespace cad_engine
