#include "ProxyCore.h"

namespace sitowiak::proxy {

void ProxyCore::SetListening(bool on) {
    if (on) {
        m_view.SetAddressEditsEnabled(false);
        m_view.SetListenCaption(kCaptionStop);
    } else {
        m_view.SetAddressEditsEnabled(true);
        m_view.SetListenCaption(kCaptionListen);
    }
    m_listening = on;
}

}  // namespace sitowiak::proxy
