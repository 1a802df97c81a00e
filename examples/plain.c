/* The toolkit from C: its free functions through kvuninstall.h alone. */
#include <string.h>

#include "kvuninstall.h"

int PlainDigest(char* out) {
  strcpy(out, "abc");
  return MD5Go(out, NULL);
}
