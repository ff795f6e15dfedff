#include "tapiui_messages.h"

#include <cstring>

namespace {

struct Message {
  std::uint32_t id;
  const char* text;
};

// Our own wording for the telephony line and phone errors.
constexpr Message kMessages[] = {
    {0xE001, "The line device is already in use by another application."},
    {0xE002, "The line device identifier is not valid."},
    {0xE003, "The requested bearer mode is not available."},
    {0xE005, "No call appearance is available on this address."},
    {0xE006, "Too many call completions are outstanding."},
    {0xE007, "The conference call is full."},
    {0xE008, "The dial string requests billing information, which is not supported."},
    {0xE009, "The dial string waits for a dial tone, which is not supported."},
    {0xE00A, "The dial string waits for a prompt, which is not supported."},
    {0xE00B, "The dial string waits for quiet, which is not supported."},
    {0xE00C, "The application's telephony version is not supported by the service."},
    {0xE00D, "The requested extension version is not supported."},
    {0xE00E, "The telephony configuration is damaged."},
    {0xE00F, "The line device is in use."},
    {0xE010, "The address is not valid."},
    {0xE011, "The address identifier is not valid."},
    {0xE012, "The address mode is not valid."},
    {0xE013, "The address state is not valid."},
    {0xE014, "The application handle is not valid."},
    {0xE015, "The application name is not valid."},
    {0xE016, "The bearer mode is not valid."},
    {0xE017, "The call completion mode is not valid."},
    {0xE018, "The call handle is not valid."},
    {0xE019, "The call parameters are not valid."},
    {0xE01A, "The call privilege is not valid."},
    {0xE01B, "The call selection is not valid."},
    {0xE01C, "The call is not in a state that allows this operation."},
    {0xE01D, "The call state list is not valid."},
    {0xE01E, "The calling card is not valid."},
    {0xE01F, "The call completion identifier is not valid."},
    {0xE020, "The conference call handle is not valid."},
    {0xE021, "The consultation call handle is not valid."},
    {0xE022, "The country code is not valid."},
    {0xE023, "The device class is not recognised."},
    {0xE024, "The device handle is not valid."},
    {0xE025, "The dial parameters are not valid."},
    {0xE026, "The digit list is not valid."},
    {0xE027, "The digit mode is not valid."},
    {0xE028, "The digits are not valid."},
    {0xE029, "The extension version is not valid."},
    {0xE02A, "The group identifier is not valid."},
    {0xE02B, "The line handle is not valid."},
    {0xE02C, "The line state is not valid."},
    {0xE02D, "The location is not valid."},
    {0xE02E, "The media list is not valid."},
    {0xE02F, "The media mode is not valid."},
    {0xE030, "The message identifier is not valid."},
    {0xE032, "A parameter is not valid."},
    {0xE033, "The park identifier is not valid."},
    {0xE034, "The park mode is not valid."},
    {0xE035, "A pointer is not valid."},
    {0xE036, "The privilege selection is not valid."},
    {0xE037, "The rate is not valid."},
    {0xE038, "The request mode is not valid."},
    {0xE039, "The terminal identifier is not valid."},
    {0xE03A, "The terminal mode is not valid."},
    {0xE03B, "The time-out value is not valid."},
    {0xE03C, "The tone is not valid."},
    {0xE03D, "The tone list is not valid."},
    {0xE03E, "The tone mode is not valid."},
    {0xE03F, "The transfer mode is not valid."},
    {0xE040, "No line device matches the requested properties."},
    {0xE041, "There is no conference call."},
    {0xE042, "The line device has been removed or is not available."},
    {0xE043, "The line device driver is missing or not working."},
    {0xE044, "There is not enough memory to complete the telephony operation."},
    {0xE045, "There is no pending request."},
    {0xE046, "The application does not own the call."},
    {0xE047, "The application is not registered for this request."},
    {0xE048, "The telephony operation failed."},
    {0xE049, "The telephony operation is not available."},
    {0xE04A, "The requested rate is not available."},
    {0xE04B, "A needed telephony resource is not available."},
    {0xE04C, "The request queue is full."},
    {0xE04D, "The structure passed is too small."},
    {0xE04E, "The target of the call was not found."},
    {0xE04F, "The call cannot be redirected to itself."},
    {0xE050, "The telephony service is not initialised."},
    {0xE051, "The user-to-user information is too long."},
    {0xE052, "The telephony service must be restarted; shut it down and initialise it again."},
    {0xE053, "The address is blocked."},
    {0xE054, "The billing information was rejected."},
    {0xE055, "The requested feature is not valid."},
    {0xE056, "Only one instance of this application may use the telephony service."},
    {0xF001, "The phone device is already in use by another application."},
    {0xF002, "The phone device identifier is not valid."},
    {0xF003, "The application's telephony version is not supported by the phone service."},
    {0xF006, "The phone device is in use."},
    {0xF013, "The phone handle is not valid."},
    {0xF018, "The phone device has been removed or is not available."},
    {0xF019, "The phone device driver is missing or not working."},
    {0xF01A, "There is not enough memory to complete the phone operation."},
    {0xF01C, "The phone operation failed."},
    {0xF01D, "The phone operation is not available."},
    {0xF022, "The phone service is not initialised."},
    {0xFFFF, "The telephony service reported a general failure."},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t TapiUiFormatMessage(
    std::uint32_t messageId, char* buffer, std::uint32_t size) {
  for (const Message& m : kMessages) {
    if (m.id != messageId) continue;
    // Message table texts end in CR LF, like the system's texts.
    const std::size_t length = std::strlen(m.text) + 2;
    if (buffer == nullptr || length + 1 > size) return 0;
    std::memcpy(buffer, m.text, length - 2);
    std::memcpy(buffer + length - 2, "\r\n", 3);
    return static_cast<std::uint32_t>(length);
  }
  return 0;
}
