// The frame's second level: a settings store in the registry keyed by the
// product name, open for the window's whole life.
#pragma once

#include <memory>

#include "frame/windows/TFormaStandardowa.h"
#include "platform/core/RegistryStore.h"

namespace sitowiak::frame {

class TFormaBezdokumentowa : public TFormaStandardowa {
    Q_OBJECT
public:
    explicit TFormaBezdokumentowa(QWidget* parent = nullptr);
    ~TFormaBezdokumentowa() override;

    platform::RegistryStore& RegistryStore() { return *m_registryStore; }

private:
    std::unique_ptr<platform::RegistryStore> m_registryStore;
};

}  // namespace sitowiak::frame
