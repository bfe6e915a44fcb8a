// Every text the player sees, in one place. The sources are UTF-8; the build turns these
// literals into code page 932 (-fexec-charset=CP932), so the bytes shown are Shift-JIS.
// Each carries its English gloss.
#pragma once

// "Information file info.txt not found"
#define MSG_NO_INFO_FILE "インフォメーションファイル info.txt がみつかりません"
// "info.txt names no registry entry"
#define MSG_NO_REG_SETTING "info.txt に、レジストリーの指定がありません"
// "May the following directory be modified? / Location found: %s"
#define MSG_CONFIRM_DIRECTORY "以下のディレクトリーを修正してよろしいですか?\n発見した場所:%s"
#define CAPTION_CONFIRM "確認"  // "Confirmation"
#define MSG_ABORTED "中止しました"  // "Aborted"
#define CAPTION_ABORTED "中止"      // "Abort"
// "It cannot start twice, nor while the game is running"
#define MSG_ALREADY_RUNNING "二重起動及び、ゲーム動作中は起動できません"
// "File copying failed / In this state the game cannot be played correctly /
//  Please run the update program again"
#define MSG_COPY_FAILED \
    "ファイルのコピーに失敗しました\nこの状態ではゲームは正しく遊べません\n再度修正プログラムを実行してください"
#define CAPTION_COPY_FAILED "重大エラー"  // "Serious error"
// "%d files were modified or added. / The update completed normally"
#define MSG_REPORT_WITH_COUNT "%d個のファイルを修正又は追加しました。\nアップデートは正常に終了しました"
#define MSG_REPORT "アップデートは正常に終了しました"  // "The update completed normally"
#define CAPTION_REPORT "正常終了"                     // "Normal end"
#define CAPTION_ERROR_UPPER "ERROR"
#define CAPTION_ERROR_MIXED "Error"

// "%s is not installed", with the game's name between corner brackets
#define MSG_NOT_INSTALLED "「%s」がインストールされていません"
#define GAME_DEFAULT_NAME "ゲーム"  // "the game"

// Protected-file prompts: "The destination file is read-only / hidden / a system file;
// %s (its path); overwrite it (not recommended)?"
#define MSG_PROMPT_READ_ONLY "コピー先のファイルが読み取り専用になっています\n%s\n\n上書きしますか?"
#define CAPTION_PROMPT_READ_ONLY "読み取り専用です"  // "It is read-only"
#define MSG_PROMPT_HIDDEN "コピー先のファイルが隠しファイルになっています\n%s\n\n上書きしますか?"
#define CAPTION_PROMPT_HIDDEN "隠しファイルです"  // "It is a hidden file"
#define MSG_PROMPT_SYSTEM "コピー先のファイルはシステムファイルです\n%s\n\n上書きしますか(非推奨)?"
#define CAPTION_PROMPT_SYSTEM "システムファイルです"  // "It is a system file"
// "Changing the file's attributes failed"
#define MSG_ATTRIBUTES_FAILED "ファイルの属性を変更できませんでした"
#define CAPTION_ATTRIBUTES_FAILED "エラー"  // "Error"

// Progress label: "copy:%s", and on every tenth file "Copying %s"
#define MSG_PROGRESS_COPY "copy:%s"
#define MSG_PROGRESS_COPYING "コピー中 %s"

// Version gate. Refusal: the reason, an empty line, "Installed Ver X.YZ", "The versions that can
// be updated are the following", "Ver X.YZ ～ X.YZ".
#define MSG_VERSION_REFUSAL \
    "%s\n\nインストールVer%d.%d%d\nバージョンアップ可能なものは以下のものです\nVer%d.%d%d ～ %d.%d%d"
#define CAPTION_VERSION_REFUSAL "このバージョンはアップデートできません"  // "This version cannot be updated"
#define MSG_VERSION_TOO_OLD "バージョンが古いためアップデートできません"  // "The version is old, ..."
#define MSG_VERSION_NEWER "ゲームのほうがが新しいためアップデートの必要はありません"  // "The game is newer, ..."
// "Obtaining the game's version information failed"
#define MSG_VERSION_UNREADABLE "ゲームのバージョン情報が取得できませんでした"

// Name lists
#define CAPTION_FILE_NOT_FOUND "file not found"
#define MSG_NAMELIST_SIZE_ERROR "namelistエラー error=%d:%s size=%d"  // "Name list error"
#define CAPTION_NAMELIST_SIZE_ERROR "ftell"
#define MSG_NAMELIST_NO_MEMORY "メモリー不足にゃ"                      // "Out of memory"
#define MSG_NAMELIST_TOKEN_TOO_LONG "変数の長さに問題がありますにゃ"  // "A variable's length is wrong"
