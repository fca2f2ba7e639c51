; Instrument profile of the PMX-31570A (model-pmx31570a.txt).
; One section per item, [0000] to [007F]; keys: unit, min, max, kind (setting, live,
; readonly), note, note.ja. Anything left out is as without a profile: a setting of any
; 16-bit value without a unit. Only what the items' names tell is given here: the kinds,
; lower bounds that follow from the meaning, and the usual units of the times (check them
; against the instrument's manual). Ranges that depend on the input type, the scaling or
; the decimal point are left out.

[0000]
kind=readonly
note=The instrument's own status; it is never written.
note.ja=計器自身の状態です。書き込みません。

[0001]
kind=live
note=Measured value, changing with the input.
note.ja=入力とともに変わる測定値です。

[0002]
kind=live
note=The value on the display, changing with the input.
note.ja=表示中の値で、入力とともに変わります。

[0003]
kind=live
note=Highest measured value since the hold was reset.
note.ja=ホールド解除以降の最大測定値です。

[0004]
kind=live
note=Lowest measured value since the hold was reset.
note.ja=ホールド解除以降の最小測定値です。

[0005]
kind=live
note=State of the alarm outputs, set by the instrument.
note.ja=計器が設定する警報出力の状態です。

[0014]
min=0
note=A hysteresis is never negative.
note.ja=ヒステリシスは負になりません。

[0015]
min=0
note=A hysteresis is never negative.
note.ja=ヒステリシスは負になりません。

[0016]
min=0
note=A hysteresis is never negative.
note.ja=ヒステリシスは負になりません。

[0017]
min=0
note=A hysteresis is never negative.
note.ja=ヒステリシスは負になりません。

[001C]
unit=s
min=0

[0020]
min=1
note=Number of readings averaged; one means no averaging.
note.ja=平均する測定回数です。1 は平均なしです。

[0021]
unit=ms
min=1

[0022]
unit=ms
min=1

[0038]
unit=ms
min=0
note=Time the instrument waits before it answers a request.
note.ja=計器が要求に応答するまでの待ち時間です。

[0049]
min=0
note=Digits after the decimal point.
note.ja=小数点以下の桁数です。

[004A]
min=1

[0050]
min=0
max=8
note=Linearise points in use; there are eight input and output pairs.
note.ja=使用するリニアライズ点数です。入力と出力は 8 組あります。
