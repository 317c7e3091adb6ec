// Every text the window shows: the status line's texts and the caption prefix.
#pragma once

#include <string_view>

namespace isetup {

inline constexpr std::wstring_view StatusSearching = L"Идет поиск актуальной версии";
inline constexpr std::wstring_view StatusDownloading = L"Загрузка новой версии программы";
inline constexpr std::wstring_view StatusCompleted = L"Загрузка завершена, запуск установщика";
inline constexpr std::wstring_view StatusLatestInUse = L"Используется последняя версия, запуск установщика";
inline constexpr std::wstring_view StatusUndetermined =
    L"Не удалось определть последнюю версию, запуск установщика";
inline constexpr std::wstring_view StatusDownloadFailed = L"Ошибка загрузки, запуск старой версии установщика";
inline constexpr std::wstring_view StatusCancelled = L"Загрузка отменена, запуск установщика";
inline constexpr std::wstring_view CaptionPrefix = L"Интернет установщик программы Талвиморастер";

}  // namespace isetup
