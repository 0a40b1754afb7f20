#include "util/ScrambleKey.h"

namespace {

// 992 printable ASCII characters. Values already stored by other programs only unscramble
// with the key they were scrambled with: never change a character of it.
const char kScrambleKey[] = ",yA.T4G|<6%qhjk5P_;DtH]oa77[RW(Wj7(4fAPJapyarsPK#T:.OiT>5.VhaX"
                            "jw]&j[,DCyZBQcY1u3~4c!v#pW;XXSw[VuRp#=oLo&;6c99X[9K-5@`l<JoBRd"
                            "Uj>MJ}%Zv%vpbR]9<_q*EbN6U]rw1O1p7.X{$Hpm-SNZo9T1MR;;.]f14r@Zw'"
                            "W[Svg5wRsIUSF*4p=f,-~0V][!h1:Z$G+1J~^vLHqQX,zJ1]FDYDr~Qhyz6..L"
                            "m+Y<'IVH5Zqemkww1T=GiUa$==<kbU.i9<J(}h9gQ2MllA%<wY$ftkSB_aF;xy"
                            ">n;2(jZ)IbP~i@O_,Dd5~K|.i%]_ec@c*Q5I$Q0vsgO,U{zE'BB=Ex(pHFtsFx"
                            "!u/9:xGER&pAS%klT2n|YEFAyi<9u~r5sw4#6pr,U]#RfA~_FuV(b.0jE4.H0R"
                            "k_bNSH^~P,5R$/WLC4Un)KM$*d*'96xuyXerw8&SFo]D11#45*cN/*oS+UzNxX"
                            "hNs!t9myQ#bzrFwmXPdo37~~;BG.D$E`IFE,&PXf[P|4o=YW;K7>fcV*uCmWFf"
                            ")Zt#,8xl_bgwBB+6X:,PKPda/gi<Lb)rhT_GIWQ-eK584q2|wJ!Irme5*k+FfO"
                            "aIAeMI&:n|h[Wg'u]I{3)3HY^sZW]GCy,7F{=yZ!:{J7mq[HXFnN.k;!Y/=k'f"
                            "K||mw7N=zu6<|GoLdH=HpTZZj7x(a_5_!0CkjjB3$g*Gtj@OO6m=>FaOD*7Dj("
                            "ldk&}wjXX$9R1&BLo{'4Z^kF+[_KZoq<L8`iw9xlOFZ8y}n3At7pE7XoQS#l5h"
                            "][>$F!bcv/s>p_V83R)W#FQ!JjUmE9T$'rJ3jod*qKDFbPmQy%PWqq>#/5^VrM"
                            "6BPZ)1H]lODY5KdIGd*T|2o+:A`jN7DR@+xd/e1f-IIFzR,xm%#K(Ddpi_p+O9"
                            "jnsmY01Sm^8M4zBa)NF6jm4XHB-Qah(TJ3=E4@b(XMQF)CqaV40>[:iPN$a=>m";

static_assert(sizeof(kScrambleKey) == kScrambleKeyLength + 1, "the key is 992 characters");

}  // namespace

unsigned char ScrambleKeyAt(size_t pos)
{
    return static_cast<unsigned char>(kScrambleKey[pos % kScrambleKeyLength]);
}
