/* The runtime support's message templates, with their string-resource ids.
   Shared by the resource script of the Windows build and by the POSIX build's
   built-in table, so that each text is written once. UTF-8 source. */
#pragma once

#define DAZI_ID_REPORT 65511
#define DAZI_TEXT_REPORT "%s がモジュール %s の %p で発生しました。\r\n%s%s\r\n"

#define DAZI_ID_OUT_OF_MEMORY 65400
#define DAZI_TEXT_OUT_OF_MEMORY "メモリが足りません"
#define DAZI_ID_LIST_INDEX 65401
#define DAZI_TEXT_LIST_INDEX "リストのインデックスが範囲を超えています (%d)"
#define DAZI_ID_FOPEN 65402
#ifdef RC_INVOKED
#define DAZI_TEXT_FOPEN \
  "ファイル "       \
  "%s"                  \
  ". %s は開けません"
#else
#define DAZI_TEXT_FOPEN "ファイル \"%s\". %s は開けません"
#endif

// POSIX only, where ICU is opened at run time.
#define DAZI_ID_LIBRARY 65403
#define DAZI_TEXT_LIBRARY "ライブラリ %s を読み込めません (%s)"

#define DAZI_ID_IO_FILE_NOT_FOUND 65410
#define DAZI_TEXT_IO_FILE_NOT_FOUND "ファイルが見つかりません"
#define DAZI_ID_IO_INVALID_NAME 65411
#define DAZI_TEXT_IO_INVALID_NAME "ファイル名の指定が間違っています"
#define DAZI_ID_IO_TOO_MANY_FILES 65412
#define DAZI_TEXT_IO_TOO_MANY_FILES "オープンしたファイルが多すぎます"
#define DAZI_ID_IO_ACCESS_DENIED 65413
#define DAZI_TEXT_IO_ACCESS_DENIED "ファイルへのアクセスが拒否されました"
#define DAZI_ID_IO_READ_PAST_END 65414
#define DAZI_TEXT_IO_READ_PAST_END "ファイルの末尾以降を読み込みました"
#define DAZI_ID_IO_DISK_FULL 65415
#define DAZI_TEXT_IO_DISK_FULL "ディスクがいっぱいです"
#define DAZI_ID_IO_INVALID_INPUT 65416
#define DAZI_TEXT_IO_INVALID_INPUT "入力値が数値ではありません"
#define DAZI_ID_IO_ERROR 65417
#define DAZI_TEXT_IO_ERROR "I/O エラー (%d)"

#define DAZI_ID_ACCESS_VIOLATION 65420
#define DAZI_TEXT_ACCESS_VIOLATION "アクセス違反が発生しました"
#define DAZI_ID_STACK_OVERFLOW 65421
#define DAZI_TEXT_STACK_OVERFLOW "スタックオーバーフローが発生しました"
#define DAZI_ID_PRIVILEGE 65422
#define DAZI_TEXT_PRIVILEGE "特権命令です"
#define DAZI_ID_DIV_BY_ZERO 65423
#define DAZI_TEXT_DIV_BY_ZERO "0 で除算しました"
#define DAZI_ID_INT_OVERFLOW 65424
#define DAZI_TEXT_INT_OVERFLOW "整数がオーバーフローしました"
#define DAZI_ID_RANGE_ERROR 65425
#define DAZI_TEXT_RANGE_ERROR "範囲チェックエラーです"
#define DAZI_ID_ZERO_DIVIDE 65426
#define DAZI_TEXT_ZERO_DIVIDE "浮動小数点数を 0 で除算しました"
#define DAZI_ID_OVERFLOW 65427
#define DAZI_TEXT_OVERFLOW "浮動小数点数がオーバーフローしました"
#define DAZI_ID_UNDERFLOW 65428
#define DAZI_TEXT_UNDERFLOW "浮動小数点数がアンダーフローしました"
#define DAZI_ID_INVALID_OP 65429
#define DAZI_TEXT_INVALID_OP "浮動小数点数の演算が無効です"
#define DAZI_ID_EXTERNAL 65430
#define DAZI_TEXT_EXTERNAL "外部例外 %s が発生しました"
