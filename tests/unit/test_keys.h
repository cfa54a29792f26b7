// Private halves of the development key set, embedded in the test binary only.
#pragma once

extern const unsigned char kTestRootPrivateKeyDer[];
extern const unsigned int kTestRootPrivateKeyDerSize;
extern const unsigned char kTestExeSigningPrivateKeyDer[];
extern const unsigned int kTestExeSigningPrivateKeyDerSize;
extern const unsigned char kTestBundleSigningPrivateKeyDer[];
extern const unsigned int kTestBundleSigningPrivateKeyDerSize;
extern const unsigned char kTestBundleSigningCert[];
extern const unsigned int kTestBundleSigningCertSize;
