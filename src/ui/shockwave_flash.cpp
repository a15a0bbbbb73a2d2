#include "ui/shockwave_flash.h"

#include "net/request_forms.h"

namespace ui {

bool CShockwaveFlash::Create(platform::MovieHost& host, platform::DialogWindow& parent, int controlId, bool visible,
                             platform::MovieCommandSink sink) {
  control_ = host.CreateControl(parent, controlId, visible, std::move(sink));
  return control_ != nullptr;
}

void CShockwaveFlash::Movie(const std::string& address) {
  if (control_) control_->SetMovie(address);
}
void CShockwaveFlash::Quality(int32_t quality) {
  if (control_) control_->SetQuality(quality);
}
void CShockwaveFlash::ScaleMode(int32_t mode) {
  if (control_) control_->SetScaleMode(mode);
}
void CShockwaveFlash::Play() {
  if (control_) control_->Play();
}
int32_t CShockwaveFlash::FlashVersion() { return control_ ? control_->FlashVersion() : 0; }
void CShockwaveFlash::SetVariable(const std::string& name, const std::string& value) {
  if (control_) control_->SetVariable(name, value);
}
void CShockwaveFlash::TCallLabel(const std::string& target, const std::string& label) {
  if (control_) control_->TCallLabel(target, label);
}
void CShockwaveFlash::SetSize(int width, int height) {
  if (control_) control_->SetSize(width, height);
}

std::string MovieAddressWithLanguage(const std::string& path, const std::string& language) {
  const char* separator = path.find('?') == std::string::npos ? "?m_Lang=" : "&m_Lang=";
  return path + separator + net::FormEncode(language);
}

void CShockwaveFlash::LoadMovieWithLanguage(const std::string& path, const std::string& language) {
  Movie(MovieAddressWithLanguage(path, language));
}

}  // namespace ui
