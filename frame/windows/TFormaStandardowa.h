// The standard frame of every application window but the log and progress
// windows: its title comes from the program's version information, and it
// keeps the product identity for its whole life.
//
// Creation runs base first (each level's constructor after its parent's);
// destruction runs each level's own part first, then the parent's, which is
// the order of C++ destructors.
#pragma once

#include <QMainWindow>

#include "frame/identity/ProductIdentity.h"

namespace sitowiak::frame {

class TFormaStandardowa : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormaStandardowa(QWidget* parent = nullptr);
    ~TFormaStandardowa() override;

    const ProductIdentity& Identity() const { return m_identity; }
    const std::string& ProductName() const { return m_identity.ProductName; }
    const std::string& ProductUrl() const { return m_identity.ProductUrl; }
    const std::string& LegalCopyright() const { return m_identity.LegalCopyright; }
    uint64_t ProductVersion() const { return m_identity.ProductVersion; }

private:
    ProductIdentity m_identity;
};

}  // namespace sitowiak::frame
