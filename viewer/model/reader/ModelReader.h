#pragma once
// The model file reader: loads a model file with the XML layer and fills a model root from it
// (header texts, then the tree of groups and elements of the data section).
//
// Reading never stops at one bad element: an element whose type is unknown is skipped, one
// whose values cannot be used (a number that is not finite, a matrix that is not) is skipped
// with a message, and engine failures while building a solid are reported per object by the
// model tree. Every message also lands in the report, when one is asked for.

#include "MorlaneExport.h"
#include "model/TreeObject.h"

#include <memory>
#include <string>
#include <vector>

class XMLNode;
class CShaftSection;
class CGearToothProfile;

struct ModelReadReport {
  struct Entry {
    std::wstring type;  // the element's Type attribute
    std::wstring name;  // its Name attribute
    std::wstring message;
  };
  static constexpr size_t kMaxEntries = 1000;
  std::vector<Entry> entries;  // at most kMaxEntries; the rest are only counted
  int objectsRead = 0;         // objects added to the model
  int objectsSkipped = 0;      // objects left out (unknown types included)
  int messagesDropped = 0;     // messages beyond kMaxEntries
};

// Reads the model file at path into root (whose engine context is set). False when the file
// cannot be loaded or its root element is not Model (compared without regard to case); the root
// is then left as it was. The solids are built together once the file is read (CBuildBatch: on
// the engine's threads, the messages in the order of the file); progress, when given, is called
// now and then on this thread with the solids built and the solids to build, and returning false
// cancels the reading: false, and the root holds nothing of the file.
MORLANE_API bool ReadModelFile(const std::wstring& path, const std::shared_ptr<CNodeRoot>& root,
                               ModelReadReport* report = nullptr,
                               const CBuildBatch::Progress& progress = {});

// The steps of reading, each usable on its own.
MORLANE_API void ReadHeader(XMLNode* header, CNodeRoot& root);
MORLANE_API void ReadData(XMLNode* element, CNode& group, ModelReadReport* report = nullptr);
// The element of an Object (or null for an unknown type), with its parameters, tooth profile
// points and grooves read. Throws ModelValueError for a value that cannot be used.
MORLANE_API std::shared_ptr<CTreeObject> CreateObject(XMLNode* element);
MORLANE_API Matrix12 ReadMatrix(XMLNode* matrix);
MORLANE_API void ReadGeometryParameters(XMLNode* element, CGeometry& object);
MORLANE_API void ReadParam(XMLNode* param, CPropertyStandard* property);
MORLANE_API void ReadToothProfile(XMLNode* element, CGearToothProfile& profile);
MORLANE_API void ReadGrooveObjects(XMLNode* element, CShaftSection& section);

// A value of a model file that the model cannot take (a number that is not finite).
struct MORLANE_API ModelValueError {
  std::wstring message;
};
