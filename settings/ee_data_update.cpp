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
	// Both copies now hold what the EEPROM was just given.
	dev().ee_read[pair] = 1;
	dev().ee_read[pair + 2] = 1;
}

bool ee_copy_from_eeprom(int board)
{
	if (dev().ee_read[board] != 0)
		return true;
	svc_log(kLogInfo, "CN[%d]: eeprom data was never read, reading it again", board + 1);
	if (get_eeprom_data(board) == 0 && dev().ee_read[board] != 0)
		return true;
	svc_log(kLogError, "CN[%d]: eeprom %d could not be read, nothing written", board + 1, board & 1);
	return false;
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
	// index - 1 as an unsigned byte, computed unsigned so that no index overflows.
	const auto board = static_cast<std::uint8_t>(static_cast<unsigned long long>(json_integer_value(index)) - 1);
	if (board > 3) {
		svc_log(kLogError, "JSON invalid iIndex-1 = %d vaule", board);
		return -1;
	}
	if (dev().present[board] == 0) {
		svc_log(kLogError, "CN[%d]: Error code: 500, The hashboard does not exist!",
			static_cast<int>(json_integer_value(index)));
		return -1;
	}
	if (!ee_copy_from_eeprom(board))
		return kEeUnreadable;
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
