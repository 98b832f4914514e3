// The system's message texts: FormatMessageA from the system table, in the
// system's language.
#include <cstring>
#include <string>

#include "codepage.h"
#include "machine.h"
#include "winapi.h"

namespace {

constexpr win::DWORD kIgnoreInserts = 0x0200;  // FORMAT_MESSAGE_IGNORE_INSERTS
constexpr win::DWORD kEnglishMessages = 0x0409;
constexpr win::DWORD kRussianMessages = 0x0419;

struct SystemMessage {
    win::DWORD code;
    const char* english;
    const char* russian;  // UTF-8 here; the caller gets Windows-1251
};

// Every code the kit can meet. Texts are kept without the trailing CR LF.
constexpr SystemMessage kMessages[] = {
    {0, "The operation completed successfully.", "Операция успешно завершена."},
    {1, "Incorrect function.", "Неверная функция."},
    {2, "The system cannot find the file specified.", "Не удается найти указанный файл."},
    {3, "The system cannot find the path specified.", "Системе не удается найти указанный путь."},
    {5, "Access is denied.", "Отказано в доступе."},
    {6, "The handle is invalid.", "Неверный дескриптор."},
    {8, "Not enough storage is available to process this command.",
     "Недостаточно памяти для обработки команды."},
    {11, "An attempt was made to load a program with an incorrect format.",
     "Была сделана попытка загрузить программу, имеющую неверный формат."},
    {14, "Not enough storage is available to complete this operation.",
     "Недостаточно памяти для завершения операции."},
    {18, "There are no more files.", "Больше файлов не осталось."},
    {32, "The process cannot access the file because it is being used by another process.",
     "Процесс не может получить доступ к файлу, так как этот файл занят другим процессом."},
    {80, "The file exists.", "Файл существует."},
    {87, "The parameter is incorrect.", "Параметр задан неверно."},
    {122, "The data area passed to a system call is too small.",
     "Область данных, переданная системному вызову, слишком мала."},
    {123, "The filename, directory name, or volume label syntax is incorrect.",
     "Синтаксическая ошибка в имени файла, имени папки или метке тома."},
    {183, "Cannot create a file when that file already exists.",
     "Невозможно создать файл, так как он уже существует."},
    {193, "%1 is not a valid Win32 application.", "%1 не является приложением Win32."},
    {234, "More data is available.", "Имеются дополнительные данные."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2.",
     "Не удается найти текст сообщения для номера сообщения 0x%1 в файле сообщений для %2."},
    {1009, "The configuration registry database is corrupt.",
     "Повреждена база данных реестра конфигурации."},
    {1010, "The configuration registry key is invalid.", "Неверный раздел реестра конфигурации."},
    {1011, "The configuration registry key could not be opened.",
     "Не удается открыть раздел реестра конфигурации."},
    {1012, "The configuration registry key could not be read.",
     "Не удается прочитать раздел реестра конфигурации."},
    {1013, "The configuration registry key could not be written.",
     "Не удается записать раздел реестра конфигурации."},
    {1014,
     "One of the files in the registry database had to be recovered by use of a log or "
     "alternate copy. The recovery was successful.",
     "Один из файлов базы данных реестра пришлось восстановить с помощью журнала или "
     "резервной копии. Восстановление прошло успешно."},
    {1015,
     "The registry is corrupted. The structure of one of the files containing registry data "
     "is corrupted, or the system's memory image of the file is corrupted, or the file could "
     "not be recovered because the alternate copy or log was absent or corrupted.",
     "Реестр поврежден. Повреждена структура одного из файлов, содержащих данные реестра, "
     "или его образ в памяти, или файл не удалось восстановить, так как резервная копия или "
     "журнал отсутствуют либо повреждены."},
    {1016,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not "
     "read in, or write out, or flush, one of the files that contain the system's image of "
     "the registry.",
     "Неисправимая ошибка операции ввода-вывода, начатой реестром. Не удается прочитать, "
     "записать или сбросить на диск один из файлов, содержащих системный образ реестра."},
    {1017,
     "The system has attempted to load or restore a file into the registry, but the specified "
     "file is not in a registry file format.",
     "Система пыталась загрузить или восстановить файл в реестр, но указанный файл имеет "
     "формат, отличный от формата файла реестра."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.",
     "Попытка выполнить недопустимую операцию над разделом реестра, отмеченным для удаления."},
    {1812, "The specified image file did not contain a resource section.",
     "Указанный файл образа не содержит раздела ресурсов."},
    {1813, "The specified resource type cannot be found in the image file.",
     "Не удается найти указанный тип ресурса в файле образа."},
    {1814, "The specified resource name cannot be found in the image file.",
     "Не удается найти указанное имя ресурса в файле образа."},
    {1815, "The specified resource language ID cannot be found in the image file.",
     "Не удается найти указанный идентификатор языка ресурса в файле образа."},
};

const SystemMessage* FindMessage(win::DWORD code) {
    for (const SystemMessage& message : kMessages) {
        if (message.code == code) return &message;
    }
    return nullptr;
}

// The system holds its messages in one language only: its own.
bool MessageLanguageAvailable(win::DWORD languageId) {
    if (languageId == 0) return true;
    return languageId == (winsim::RussianSystem() ? kRussianMessages : kEnglishMessages);
}

// "%1".."%99" stand for arguments the caller must supply.
bool HasInserts(const char* text) {
    for (const char* p = std::strchr(text, '%'); p != nullptr; p = std::strchr(p + 1, '%')) {
        if (p[1] >= '1' && p[1] <= '9') return true;
    }
    return false;
}

win::DWORD Fail(win::DWORD code) {
    winsim::SetLastErrorCode(code);
    return 0;
}

}  // namespace

namespace win {

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, va_list* arguments) {
    DWORD code = 0;
    if (winsim::InjectedFailure("FormatMessageA", code)) return Fail(code);
    (void)source;  // only read for FORMAT_MESSAGE_FROM_HMODULE/FROM_STRING
    if ((flags & ~kIgnoreInserts) != FORMAT_MESSAGE_FROM_SYSTEM || buffer == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const SystemMessage* message = FindMessage(messageId);
    if (message == nullptr) return Fail(ERROR_MR_MID_NOT_FOUND);
    if (!MessageLanguageAvailable(languageId)) return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
    const char* utf8 = winsim::RussianSystem() ? message->russian : message->english;
    // Inserts are not formatted here; without arguments Windows refuses them.
    if (HasInserts(utf8) && (flags & kIgnoreInserts) == 0 && arguments == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::string text = winsim::Utf8ToCp1251(utf8) + "\r\n";
    if (text.size() + 1 > size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

}  // namespace win
