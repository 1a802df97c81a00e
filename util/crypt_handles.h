#pragma once
// Owner types of the certificate store's handles, apart from util/handles.h so that only the files
// that work with certificates take in the crypto headers.
#include <windows.h>
#include <wincrypt.h>

#include "util/handles.h"

namespace kv {

inline void CloseCertStore(HCERTSTORE h) { ::CertCloseStore(h, 0); }
using UniqueCertStore = UniqueHandle<NullTraits<HCERTSTORE, CloseCertStore>>;
using UniqueCertContext = UniqueHandle<NullTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;

}  // namespace kv
