// ee_data_update: an hb.base or hb.test set body applied to one board's
// EEPROM image, kept in both copies of that EEPROM and written to it.
#include <cstring>

#include "eeprom_record.h"
#include "hw_access.h"
#include "svc_log.h"

void ee_image_store(int board, const std::uint8_t *image)
{
	char text[kImageHexSize + 1];
	arrayToStr(image, text);
	const int pair = board & 1;
	std::memcpy(dev().board[pair].ee_data, image, kEepromImageSize);
	std::memcpy(dev().board[pair + 2].ee_data, image, kEepromImageSize);
	set_eeprom_data(pair, static_cast<int>(kImageHexSize), text);
}

int ee_data_update(json_t *request)
{
	json_t *body = json_object_get(request, "body");
	if (!json_is_object(body)) {
		svc_log(kLogError, "JSON invalid body");
		return -1;
	}
	json_t *index = json_object_get(body, "index");
	if (!json_is_integer(index)) {
		svc_log(kLogError, "JSON invalid index integer");
		return -1;
	}
	const auto board = static_cast<std::uint8_t>(json_integer_value(index) - 1);
	if (board > 3) {
		svc_log(kLogError, "JSON invalid iIndex-1 = %d vaule", board);
		return -1;
	}
	if (dev().present[board] == 0) {
		svc_log(kLogError, "CN[%d]: Error code: 500, The hashboard does not exist!",
			static_cast<int>(json_integer_value(index)));
		return -1;
	}
	std::uint8_t image[kEepromImageSize];
	std::memcpy(image, dev().board[board].ee_data, sizeof(image));
	svc_log(kLogDebug, "hb[%d].ee_data get data:", board);
	eeprom_dump(image);
	if (ee_image_apply(body, board, image) != 0)
		return -1;
	svc_log(kLogDebug, "write hb[%d].ee_data:", board);
	ee_image_store(board, image);
	return 0;
}
