#include "installer/catalogue.h"

PayloadTable BuildPayloadTable() {
  return {
#include "payload_rows.inc"
  };
}
