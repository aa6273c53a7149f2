// The frame's second level: a settings store in the registry keyed by the
// product name, open for the window's whole life.
#pragma once

#include <memory>

#include "frame/identity/RegistryStore.h"
#include "frame/windows/TFormaStandardowa.h"

namespace sitowiak::frame {

class TFormaBezdokumentowa : public TFormaStandardowa {
    Q_OBJECT
public:
    explicit TFormaBezdokumentowa(QWidget* parent = nullptr);
    ~TFormaBezdokumentowa() override;

    frame::RegistryStore& RegistryStore() { return *m_registryStore; }

private:
    std::unique_ptr<frame::RegistryStore> m_registryStore;
};

}  // namespace sitowiak::frame
