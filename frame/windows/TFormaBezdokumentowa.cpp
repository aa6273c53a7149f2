#include "TFormaBezdokumentowa.h"

namespace sitowiak::frame {

TFormaBezdokumentowa::TFormaBezdokumentowa(QWidget* parent)
    : TFormaStandardowa(parent),
      m_registryStore(std::make_unique<platform::RegistryStore>(ProductName())) {}

// Every write already reached the hive; releasing the store closes the key.
TFormaBezdokumentowa::~TFormaBezdokumentowa() {
    m_registryStore.reset();
}

}  // namespace sitowiak::frame
