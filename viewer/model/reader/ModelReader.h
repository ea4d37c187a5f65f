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

// Why a model file was not read into the model.
enum class ModelReadError {
  None,           // read
  NoRoot,         // there was no model root to read into
  Missing,        // nothing at the path (or no path)
  NotAFile,       // a folder, a device or something else that is no plain file
  Unreadable,     // the system does not open it for reading (its rights, a loop of links)
  NotWellFormed,  // the XML layer refused the text (its reason, with line and column)
  NotAModel,      // the document's root element is not Model
  Cancelled,      // the progress callback cancelled the reading
  Failed,         // the reading stopped on an error of its own (out of memory, no thread)
};

// What became of reading a model file; true when it was read. The reason of a failure comes
// with what a person needs to find the fault: the path, and for a document the XML layer
// refused, its reason and position.
struct MORLANE_API ModelReadResult {
  ModelReadError reason = ModelReadError::None;
  std::wstring path;
  // NotWellFormed: the XML layer's reason; NotAModel: the root element's tag; Unreadable: the
  // system's reason; Failed: what stopped it.
  std::wstring detail;
  int line = 0, column = 0;  // of an XML fault, as the XML layer gives them; 0 without one

  explicit operator bool() const { return reason == ModelReadError::None; }
  // One line for a log: the path, then what is wrong ("...: not well-formed XML (line 3,
  // column 7): <the XML layer's reason>"); empty when the file was read.
  std::wstring Text() const;
};

// The reason as a short fixed word ("missing", "not-well-formed" ...), for logs and scripts.
MORLANE_API const wchar_t* ModelReadErrorName(ModelReadError reason);

// Reads the model file at path into root (whose engine context is set). On a failure (above)
// the root is left as it was; the name Model is compared without regard to case. The solids
// are built together once the file is read (CBuildBatch: on the engine's threads, the messages
// in the order of the file); progress, when given, is called now and then on this thread with
// the solids built and the solids to build, and returning false cancels the reading: Cancelled,
// and the root holds nothing of the file.
MORLANE_API ModelReadResult ReadModelFile(const std::wstring& path,
                                          const std::shared_ptr<CNodeRoot>& root,
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
