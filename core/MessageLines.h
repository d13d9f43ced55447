#pragma once

// Every text the program shows a player, in one place: the dialog's own texts
// and the lines of its message list. Players and support pages quote these
// lines word for word, so they change only here and only on purpose.
// (The dialog template's captions are in Fernup.rc.)

// The dialog.
constexpr char kWindowTitle[] = "オンラインアップデート[ver.1.01]";
constexpr char kChooserTitle[] = "アップデート定義ファイルの選択";
constexpr char kReadmeTitle[] = "説明";  // the readme's window
// The file list's column headings; their blanks set the columns' widths.
constexpr const char* kColumnTitles[] = {
    "   ファイル   ", "   サイズ   ", "ＤＬ", "転送", "               MD5               ",
};

// The fetch of a definition.
constexpr char kLineFetchingDefinition[] = "－－－定義ファイル取得中－－－";
constexpr char kLineNoInternet[] = "インターネットが利用出来ません。";
constexpr char kLineDefinitionNotFetched[] = "定義ファイルが取得できませんでした。";
constexpr char kLineDefinitionBrokenOff[] = "定義ファイルの取得が中断されました。";
constexpr char kLineSignatureRefused[] = "定義ファイルの署名が確認できませんでした。";

// The verdict on a definition; the three item lines are formats.
constexpr char kLineDefinitionIncomplete[] = "定義が正しく設定されていません。";
constexpr char kLineOtherTitle[] = "ゲームタイトルが違います。";
constexpr char kLineNoNewFiles[] = "新しい修正ファイルはありません。";
constexpr char kFormatTitle[] = "タイトル　：%s";
constexpr char kFormatDay[] = "公開日　　：%s";
constexpr char kFormatDayChange[] = "公開日　　：%s -> %s";
constexpr char kFormatVersion[] = "バージョン：%s";
constexpr char kFormatVersionChange[] = "バージョン：%s -> %s";
constexpr char kLineOlderVersion[] = "アップデートの必要はありません。";
constexpr char kLineSameVersion[] = "最新の修正ファイルが適用されています。";
constexpr char kLineNewerVersion[] = "新しい修正ファイルがあります。";

// The update.
constexpr char kLineRule[] = "-------------------------------------------";
constexpr char kLineRunning[] = "アップデート実行中";
constexpr char kLineNoSession[] = "インターネットに接続出来ませんでした。";
constexpr char kLineUnsafePath[] = "不正なファイルパスが含まれています。";
constexpr char kLineCannotOpen[] = "ファイルが開けませんでした。";
constexpr char kLineCannotDownload[] = "ダウンロードを行うことが出来ませんでした。";
constexpr char kLineBrokenOff[] = "ダウンロードが中断されました。";
constexpr char kLineBadDownload[] = "正常にダウンロードが行われませんでした。";
constexpr char kLineCopyFailed[] = "ファイルの転送に失敗しました。";
constexpr char kLineBadInstall[] = "正常に転送が行われませんでした。";
constexpr char kLineDone[] = "アップデートが正常に完了しました。";
constexpr char kLineFailed[] = "アップデートに失敗しました。";
