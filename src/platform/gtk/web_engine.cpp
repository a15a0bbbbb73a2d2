#include "platform/gtk/web_engine.h"

#include <webkit2/webkit2.h>

namespace platform {

WebEngine::WebEngine(WebEngineOptions options) : options_(std::move(options)) {
  WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
  context_ = webkit_web_context_new_with_website_data_manager(data);
  g_object_unref(data);
  webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  if (!options_.extraCaFile.empty()) {
    GError* error = nullptr;
    extraCa_ = g_tls_file_database_new(options_.extraCaFile.c_str(), &error);
    if (extraCa_ == nullptr) {
      Log("Failed to read the extra CA file " + options_.extraCaFile + ": " + (error ? error->message : "?"));
      g_clear_error(&error);
    }
  }
}

WebEngine::~WebEngine() {
  if (extraCa_ != nullptr) g_object_unref(extraCa_);
  g_object_unref(context_);
}

WebKitSettings* WebEngine::NewSettings() const {
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_enable_javascript(settings, TRUE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
  return settings;
}

bool WebEngine::TrustIfVouched(const std::string& uri, GTlsCertificate* certificate) {
  if (extraCa_ == nullptr || certificate == nullptr) return false;
  GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (parsed == nullptr) return false;
  const std::string host = g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
  const int port = g_uri_get_port(parsed) > 0 ? g_uri_get_port(parsed) : 443;
  g_uri_unref(parsed);
  if (host.empty()) return false;
  GSocketConnectable* identity = g_network_address_new(host.c_str(), static_cast<guint16>(port));
  const GTlsCertificateFlags problems =
      g_tls_database_verify_chain(extraCa_, certificate, G_TLS_DATABASE_PURPOSE_AUTHENTICATE_SERVER, identity,
                                  nullptr, G_TLS_DATABASE_VERIFY_NONE, nullptr, nullptr);
  g_object_unref(identity);
  if (problems != 0) {
    Log("Failed to verify the certificate of " + host + " (flags " + std::to_string(problems) + ")");
    return false;
  }
  webkit_web_context_allow_tls_certificate_for_host(context_, certificate, host.c_str());
  return true;
}

}  // namespace platform
