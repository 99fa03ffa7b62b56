// Identifiers of the setup dialog (resource 1001) and its controls, shared by
// the setup library and the driver, which both build the dialog in.
#pragma once

namespace quarl::setup {

inline constexpr int kSetupDialogResource = 1001;

enum : int {
  kIdcDsn = 400,
  kIdcDsnLabel = 401,
  kIdcProvider = 402,
  kIdcDescription = 403,
  kIdcConnection = 404,
  kIdcClientConfig = 405,
  kIdcUid = 406,
  kIdcPwd = 407,
  kIdcConfigure = 408,
  kIdcConnectionLabel = 409,
  kIdcProviderLabel = 410,
  kIdcCommunications = 411,
  kIdcClientConfigLabel = 412,
  kIdcUidLabel = 413,
  kIdcPwdLabel = 414,
  kIdcDescriptionLabel = 415,
  kIdcChargeCode = 416,
  kIdcChargeCodeLabel = 417,
};

}  // namespace quarl::setup
