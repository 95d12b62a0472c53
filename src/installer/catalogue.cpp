#include "installer/catalogue.h"

Catalogue BuildCatalogue() {
  return {
#include "payload_rows.inc"
  };
}
