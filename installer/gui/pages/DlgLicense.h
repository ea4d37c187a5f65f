// The licence agreement: the licence file of the current language (its section's "LICENSE"
// element names it inside the package), shown read-only, and the accept box, which starts
// unchecked every time and alone lets the person go on with Next.
#pragma once

#include "gui/pages/BasePage.h"
#include "package/ScriptVocabulary.h"

#include <memory>
#include <string>

namespace DataStorage {
class IDataStorage;
}

namespace InstallGui {

inline constexpr int kLicenseCaption = 1009;
inline constexpr int kLicenseEdit = 1010;
inline constexpr int kLicenseAccept = 1011;

// The text of a licence file's bytes: UTF-8 after its byte-order mark, UTF-16 (little or big
// endian) after its byte-order mark, otherwise text in `codePage` up to the first zero byte.
// Fewer than 4 bytes give an empty text. A text that looks like UTF-16 without a mark, or a
// UTF-32 mark, is not read: empty, and `unsupported` is set.
std::wstring DecodeLicenseText(const std::string& bytes, unsigned codePage, bool* unsupported);

class CDlgLicense : public CBasePage {
 public:
  explicit CDlgLicense(std::shared_ptr<DataStorage::IDataStorage> storage)
      : CBasePage(ScriptNames::Page::kLicense, PageKind::License), m_storage(std::move(storage)) {}

  // "Accept": yes or no, as the person ticks the box.
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override { return {L"Accept"}; }
  std::vector<std::wstring> FieldChoices(const std::wstring& name) const override;
  bool CanLeaveWithNext() override;
  int TextControl() const override { return kLicenseCaption; }
  bool IsControlDisabled(int controlId) const override {
    return controlId == kControlNext && !m_accepted;
  }

  const std::wstring& Text() const { return m_text; }
  bool Accepted() const { return m_accepted; }
  void SetAccepted(bool accepted) { m_accepted = accepted; }

 protected:
  void LocalizePage(CLocalizer& localizer) override;
  // Reads the licence file; a section without "LICENSE" or a file the package does not give
  // ends the run (std::runtime_error).
  void InitPage() override;

 private:
  std::shared_ptr<DataStorage::IDataStorage> m_storage;
  std::wstring m_text;
  bool m_accepted = false;
};

}  // namespace InstallGui
