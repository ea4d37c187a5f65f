#include "gui/pages/BannerModel.h"

#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

#include <algorithm>
#include <cmath>

namespace InstallGui {

bool FindBanner(CommonTools::ILanguages& languages, const std::wstring& sectionName,
                BannerPosition position, BannerConfig& config) {
  namespace A = ScriptNames::Attribute;
  const wchar_t* wanted =
      position == BannerPosition::Top ? ScriptNames::Value::kTop : ScriptNames::Value::kLeft;
  try {
    CommonTools::SettingsNodePtr language, section;
    CommonTools::SettingsNodeListPtr children;
    if (!languages.GetCurrentNode(language) || !language ||
        !language->GetChild(sectionName, section) || !section->GetChildren(children))
      return false;
    int count = children->GetCount();
    for (int i = 0; i < count; ++i) {
      CommonTools::SettingsNodePtr child;
      if (!children->GetItem(i, child) || !child) continue;
      if (!platform::EqualsNoCase(child->GetName(), ScriptNames::Element::kBanner)) continue;
      if (!platform::EqualsNoCase(CommonTools::GetText(child, A::kPos), wanted)) continue;
      config.imageId = CommonTools::GetInt(child, A::kImageId, 0);
      config.url = CommonTools::GetText(child, A::kUrl);
      return true;
    }
  } catch (const CommonTools::SettingsError&) {}
  return false;
}

DrawSize BannerDrawSize(int clientWidth, int clientHeight, int imageWidth, int imageHeight) {
  if (clientWidth <= 0 || clientHeight <= 0 || imageWidth <= 0 || imageHeight <= 0) return {};
  double f = std::min(static_cast<double>(imageHeight) / clientHeight,
                      static_cast<double>(imageWidth) / clientWidth);
  return {static_cast<int>(std::ceil(imageWidth / f)),
          static_cast<int>(std::ceil(imageHeight / f))};
}

}  // namespace InstallGui
