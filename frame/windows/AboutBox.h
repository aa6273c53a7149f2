// The About box: the product's name and version over its copyright line,
// with the application's icon, titled "O programie <name>...".
#pragma once

#include <QMessageBox>

#include <memory>
#include <string>

#include "platform/core/ProductIdentity.h"

namespace sitowiak::frame {

std::string AboutTitle(const platform::ProductIdentity& identity);
// "<name> wersja 5.00.00.48", a line feed, then the copyright line.
std::string AboutText(const platform::ProductIdentity& identity);

// The box, not yet shown, owned by `owner`.
std::unique_ptr<QMessageBox> CreateAboutBox(QWidget* owner,
                                            const platform::ProductIdentity& identity);

// Shows the box and waits for it to be closed. Without a display the title
// and text go to standard error, like every other box.
void ShowAboutBox(QWidget* owner, const platform::ProductIdentity& identity);

}  // namespace sitowiak::frame
