// The Russian texts of the driver's error codes, kept here once.
#include "driver/errors.h"

namespace Errors {

const wchar_t* text(long code) {
    switch (code) {
    case WrongTag: return L"Неверная метка";
    case NoTagToWrite: return L"Не найдена метка для записи";
    case WaitTimeout: return L"Истекло время ожидания";
    case WriteWaitTimeout: return L"Истекло время ожидания записи";
    case TagWriteFailed: return L"Не удалось записать данные в метку";
    case Send3610SerialFailed: return L"Не удалось отправить серийный номер 3610";
    case SendSettingsFailed: return L"Не удалось отправить настройки";
    case Connect3610Timeout: return L"Истекло время ожидания подключения 3610";
    case Switch3610ModeFailed: return L"Не удалось переключить режим 3610";
    case ConnectFailed: return L"Не удалось подключиться к устройству";
    case ConfigureFailed: return L"Не удалось настроить устройство";
    case TagReadFailed: return L"Не удалось прочитать метку";
    case NoContact: return L"Не удалось связаться с устройством";
    case Bad3610SerialLength: return L"Серийный номер 3610 должен содержать 9 символов";
    case SessionAlreadyOpen: return L"Сессия уже открыта";
    case SessionNotOpen: return L"Сессия не открыта";
    case BluetoothAdapterNotFound: return L"Bluetooth адаптер не найден";
    case BluetoothDeviceNotFound: return L"Устройство не найдено";
    case BluetoothConnectFailed: return L"Не удается соединиться с устройством";
    case BluetoothPortInitFailed: return L"Ошибка инициализации порта соединения";
    case CommandNotSent: return L"Не удалось отправить команду";
    case NoAnswer: return L"Нет ответа от устройства";
    default: return L"";
    }
}

}  // namespace Errors
