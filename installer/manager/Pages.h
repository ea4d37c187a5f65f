// The wizard pages as the run holds them: the pages' presenters (gui/pages), made by the run
// with what each needs (CInstallManager::MakePage), kept in the run's page list and shown
// through the run's back-end.
#pragma once

#include "gui/pages/BasePage.h"

#include <memory>

namespace InstallManager {

using PagePtr = std::shared_ptr<InstallGui::CBasePage>;

}  // namespace InstallManager
